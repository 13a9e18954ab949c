#pragma once
// Text conversions at the edge of the Win32 API (Windows builds only). Our strings are UTF-8;
// Windows takes paths as UTF-16 through its "W" calls, and those are the only calls that reach
// every file name: the "A" calls go through the ANSI code page and fail on names outside it.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// UTF-16 for a UTF-8 text. Nothing when the text is not valid UTF-8 or holds a NUL, which a
// Win32 call would silently take as the end of the name; GetLastError() then tells which.
inline std::optional<std::wstring> WideFromUtf8(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        ::SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length) {
        return std::nullopt;
    }
    return wide;
}

// UTF-16 for text to be shown rather than passed to a call: bytes that are not UTF-8 come out
// as the replacement character, a NUL as a NUL.
inline std::wstring WideForDisplay(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

// UTF-8 for a text in the given code page (CP_ACP for what the "A" calls return). Bytes the
// code page cannot map come out as the replacement character rather than failing.
inline std::string Utf8FromCodePage(std::string_view text, UINT codePage) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    const int wideLength = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (wideLength <= 0) return std::string();
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), wideLength);
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// A UTF-16 text in the given code page, for those who read bytes in it (a file or a pipe on a
// Windows whose console speaks that page). A character the page cannot hold comes out as "?",
// not as a look-alike ("best fit" would turn a name's letters into others). Code pages whose
// converter takes no options (ISO-2022, ISCII) convert with the page's own replacement; a page
// Windows cannot convert to at all leaves nothing.
inline std::optional<std::string> CodePageFromWide(std::wstring_view wide, UINT codePage) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    const char* replacement = "?";
    int length = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, replacement, nullptr);
    if (length <= 0) {
        flags = 0;
        replacement = nullptr;
        length = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, replacement, nullptr);
        if (length <= 0) return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(codePage, flags, wide.data(), size, bytes.data(), length, replacement, nullptr) != length) {
        return std::nullopt;
    }
    return bytes;
}

// UTF-8 for a UTF-16 text from a "W" call. Unpaired surrogates come out as the replacement
// character.
inline std::string Utf8FromWide(std::wstring_view wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace kelvane
