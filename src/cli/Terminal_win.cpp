#include "cli/Terminal.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>
#include <stdio.h>

#include "common/WideText.h"

namespace cli {

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

void PrepareConsole() { ::SetConsoleOutputCP(CP_UTF8); }

}  // namespace cli
