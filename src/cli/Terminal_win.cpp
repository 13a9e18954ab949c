#include "cli/Terminal.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <iostream>
#include <streambuf>
#include <string_view>

#include "common/Utf8.h"
#include "common/WideText.h"

namespace cli {

namespace {

// The stream buffer of std::cout or std::cerr when that stream is a console. Our text is UTF-8;
// a console shows bytes in its code page, which is the user's (932 on a Japanese Windows) and
// shared with the shell that started us. Rather than switch the console to UTF-8 and have to
// switch it back on every way out (an error, Ctrl+C, a crash), the text goes to the console in
// UTF-16, which it shows whatever its code page. Nothing is kept but a character's first bytes
// whose rest is still to come, so what was written is on screen even if the process is ended.
class ConsoleBuffer final : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return Write(std::string_view(&byte, 1)) ? c : traits_type::eof();
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        return Write(std::string_view(text, static_cast<std::size_t>(count))) ? count : 0;
    }

private:
    bool Write(std::string_view text) {
        held_.append(text);
        const std::size_t whole = held_.size() - kelvane::Utf8CutShortAtEnd(held_);
        const std::wstring wide = kelvane::WideForDisplay(std::string_view(held_).substr(0, whole));
        held_.erase(0, whole);
        // In pieces: older consoles refuse a long text in one call. A piece never ends between
        // the two halves of a surrogate pair.
        constexpr std::size_t piece = 8192;
        for (std::size_t at = 0; at < wide.size();) {
            std::size_t count = std::min(piece, wide.size() - at);
            if (at + count < wide.size() && IS_HIGH_SURROGATE(wide[at + count - 1])) --count;
            DWORD written = 0;
            if (!::WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(count), &written, nullptr) ||
                written == 0) {
                return false;
            }
            at += written;
        }
        return true;
    }

    HANDLE console_;
    std::string held_;
};

// The console behind a standard handle; null when the handle is a file, a pipe or nothing.
HANDLE ConsoleOf(DWORD standardHandle) {
    const HANDLE handle = ::GetStdHandle(standardHandle);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return nullptr;
    return handle;
}

}  // namespace

bool StderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(kelvane::Utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return args;
}

void PrepareConsole() {
    // Files and pipes get the UTF-8 bytes as they are. The buffers are never freed: the streams
    // may still be flushed while the program's static objects are destroyed.
    if (const HANDLE out = ConsoleOf(STD_OUTPUT_HANDLE)) {
        std::cout.flush();
        std::cout.rdbuf(new ConsoleBuffer(out));
    }
    if (const HANDLE err = ConsoleOf(STD_ERROR_HANDLE)) {
        auto* buffer = new ConsoleBuffer(err);
        std::cerr.rdbuf(buffer);
        std::clog.rdbuf(buffer);
    }
}

}  // namespace cli
