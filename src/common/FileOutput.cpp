#include "common/FileOutput.h"

#include "common/InOutError.h"

namespace kelvane {

// The platform's error number as a file error (FileOutput_posix.cpp, FileOutput_win.cpp).
EInOutError SystemError(int systemCode);

namespace {

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

EInOutError InOutErrorOf(const kelvane::FileReplaceError& failure) {
    using Outcome = kelvane::FileReplaceError::Outcome;
    const EInOutError base = failure.SystemCode() == kelvane::FileReplaceError::NoProgress
                                 ? EInOutError(DiskFullCode)
                                 : SystemError(failure.SystemCode());
    const std::string reason = " (" + std::string(base.what()) + ")";
    switch (failure.What()) {
    case Outcome::EarlierKept:
        return base;
    case Outcome::MayBeIncomplete:
        if (!failure.EarlierFile().empty()) {
            return EInOutError(base.Code(), "ファイルは途中までしか書き込まれていない可能性があります。元の内容は " +
                                                Utf8Of(failure.EarlierFile()) + " に残してあります" + reason);
        }
        return EInOutError(base.Code(), "ファイルは途中までしか書き込まれていない可能性があります" + reason);
    case Outcome::EarlierNotCopied:
        return EInOutError(base.Code(), "フォルダーに新しいファイルを作れず、元のファイルの控えも残せないため、上書きしませんでした" + reason);
    case Outcome::TargetBusy:
        return EInOutError(base.Code(), "同じファイルを別の保存が書き込み中のため、上書きしませんでした");
    case Outcome::NotDurable:
        return EInOutError(base.Code(), "ファイルは保存しましたが、ディスクへの書き込みを確認できませんでした" + reason);
    case Outcome::TemporaryKept: {
        std::string text = "ファイルを置き換えられず、新しい内容は " + Utf8Of(failure.TemporaryFile()) + " に";
        if (!failure.EarlierFile().empty()) text += "、元の内容は " + Utf8Of(failure.EarlierFile()) + " に";
        return EInOutError(base.Code(), text + "残してあります" + reason);
    }
    }
    return base;
}

OutputFile::OutputFile(const std::string& pathUtf8, SpecialTargets special) try : file_(pathUtf8, special) {
} catch (const kelvane::FileReplaceError& failure) {
    throw InOutErrorOf(failure);
}

OutputFile::OutputFile(StandardOutputTarget target) : file_(target) {}

OutputFile::OutputFile(const std::string& pathUtf8, kelvane::NewFileOnlyTarget target) try : file_(pathUtf8, target) {
} catch (const kelvane::FileReplaceError& failure) {
    throw InOutErrorOf(failure);
}

void OutputFile::Write(const std::uint8_t* data, std::size_t size) {
    try {
        file_.Write(data, size);
    } catch (const kelvane::FileReplaceError& failure) {
        throw InOutErrorOf(failure);
    }
}

void OutputFile::Close() {
    try {
        file_.Close();
    } catch (const kelvane::FileReplaceError& failure) {
        throw InOutErrorOf(failure);
    }
}

void WriteFileSafely(const std::string& pathUtf8, const std::uint8_t* data, std::size_t size,
                     SpecialTargets special) {
    OutputFile file(pathUtf8, special);
    file.Write(data, size);
    file.Close();
}

}  // namespace kelvane
