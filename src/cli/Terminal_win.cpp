#include "cli/Terminal.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <optional>
#include <iostream>
#include <streambuf>
#include <string_view>

#include "common/Utf8.h"
#include "common/WideText.h"

namespace cli {

namespace {

// A stream buffer that takes our UTF-8 text and hands it on in UTF-16, whole characters only.
// Nothing is kept but a character's first bytes whose rest is still to come, so what was written
// is out even if the process is ended.
class WideBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return Write(std::string_view(&byte, 1)) ? c : traits_type::eof();
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        return Write(std::string_view(text, static_cast<std::size_t>(count))) ? count : 0;
    }

    virtual bool Put(std::wstring_view wide) = 0;

private:
    bool Write(std::string_view text) {
        held_.append(text);
        const std::size_t whole = held_.size() - kelvane::Utf8CutShortAtEnd(held_);
        const std::wstring wide = kelvane::WideForDisplay(std::string_view(held_).substr(0, whole));
        held_.erase(0, whole);
        return Put(wide);
    }

    std::string held_;
};

// std::cout or std::cerr on a console. A console shows bytes in its code page, which is the
// user's (932 on a Japanese Windows) and shared with the shell that started us. Rather than
// switch the console to UTF-8 and have to switch it back on every way out (an error, Ctrl+C, a
// crash), the text goes to the console in UTF-16, which it shows whatever its code page.
class ConsoleBuffer final : public WideBuffer {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    bool Put(std::wstring_view wide) override {
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

private:
    HANDLE console_;
};

// std::cout or std::cerr to a file or a pipe, in a code page: `kelvane-cli list x.syx > list.txt`
// then reads right in `type list.txt`, `more` and `find`, which take bytes in the console's code
// page. The bytes go on through the stream's own buffer (the C library's, in text mode), so that
// a flush and a failure to write work as before.
class CodePageBuffer final : public WideBuffer {
public:
    CodePageBuffer(std::streambuf* target, UINT codePage) : target_(target), codePage_(codePage) {}

protected:
    bool Put(std::wstring_view wide) override {
        const std::optional<std::string> bytes = kelvane::CodePageFromWide(wide, codePage_);
        // A page Windows cannot convert to: the text as it is rather than none.
        const std::string text = bytes ? *bytes : kelvane::Utf8FromWide(wide);
        const auto size = static_cast<std::streamsize>(text.size());
        return target_->sputn(text.data(), size) == size;
    }

    int sync() override { return target_->pubsync(); }

private:
    std::streambuf* target_;
    UINT codePage_;
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

void PrepareConsole(StreamText out, StreamText err) {
    // The code page the shell's commands read a redirected output in: the console's, which
    // chcp may have changed, or the ANSI code page when no console is there. A UTF-8 page needs
    // nothing done. The buffers are never freed: the streams may still be flushed while the
    // program's static objects are destroyed.
    UINT codePage = ::GetConsoleOutputCP();
    if (codePage == 0) codePage = ::GetACP();
    const auto prepare = [codePage](std::ostream& stream, DWORD standardHandle, StreamText text) -> std::streambuf* {
        stream.flush();
        if (const HANDLE console = ConsoleOf(standardHandle)) return new ConsoleBuffer(console);
        if (text == StreamText::Utf8 || codePage == CP_UTF8) return stream.rdbuf();
        return new CodePageBuffer(stream.rdbuf(), codePage);
    };
    std::cout.rdbuf(prepare(std::cout, STD_OUTPUT_HANDLE, out));
    std::streambuf* error = prepare(std::cerr, STD_ERROR_HANDLE, err);
    std::cerr.rdbuf(error);
    std::clog.rdbuf(error);
}

}  // namespace cli
