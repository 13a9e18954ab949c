#include "common/InOutError.h"

#include <cerrno>

namespace kelvane {

namespace {

std::string NumberedText(int code) {
    return "I/O エラー (" + std::to_string(code) + ")";
}

}  // namespace

std::string InOutErrorText(int code) {
    switch (code) {
    case FileNotFoundCode: return "ファイルが見つかりません";
    case PathNotFoundCode: return "不正なファイル名です";
    case TooManyOpenFilesCode: return "オープンしたファイルが多すぎます";
    case AccessDeniedCode: return "ファイルへのアクセスが拒否されました";
    case ReadPastEndCode: return "ファイルの末尾以降を読み込みました";
    case DiskFullCode: return "ディスクがいっぱいです";
    case NumericInputExpectedCode: return "入力値が数値ではありません";
    default: return NumberedText(code);
    }
}

EInOutError::EInOutError(int code) : EInOutError(code, InOutErrorText(code)) {}

EInOutError::EInOutError(int code, const std::string& message)
    : kelvane::Failure(message), code_(code) {}

EInOutError EInOutError::FromErrno(int errnoValue) {
    switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        return EInOutError(PathNotFoundCode);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return EInOutError(AccessDeniedCode);
    case EMFILE:
    case ENFILE:
        return EInOutError(TooManyOpenFilesCode);
    case ENOSPC:
#ifdef EDQUOT  // a quota, where the system has them
    case EDQUOT:
#endif
        return EInOutError(DiskFullCode);
    default:
        return EInOutError(errnoValue, NumberedText(errnoValue));
    }
}

}  // namespace kelvane
