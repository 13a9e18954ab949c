// kelvane-cli.exe on a real console: its Japanese text shows as such, and the console's code
// page, which it shares with the user's shell, is the same after the program as before.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CliConsole, ShowsJapaneseTextAndLeavesTheCodePageAsItWas) {
    // A console of our own, in the code page a Japanese Windows gives it.
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    ASSERT_TRUE(::SetConsoleOutputCP(932)) << ::GetLastError();
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherited, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(screen, INVALID_HANDLE_VALUE) << ::GetLastError();

    // A failure, so that the text goes to the error stream of a program that ends with 1.
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = screen;
    start.hStdError = screen;
    PROCESS_INFORMATION process{};
    std::wstring command = L"kelvane-cli.exe list Z:\\nonexistent\\dump.syx";
    ASSERT_TRUE(::CreateProcessW(KELVANE_CLI_PATH, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                                 &process))
        << ::GetLastError();
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60'000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(::GetConsoleOutputCP(), 932u);

    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(screen, &info));
    std::wstring shown(static_cast<std::size_t>(info.dwSize.X) * (info.dwCursorPosition.Y + 1), L' ');
    DWORD read = 0;
    ASSERT_TRUE(::ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(shown.size()), COORD{0, 0}, &read));
    shown.resize(read);
    EXPECT_NE(shown.find(L"ファイル Z:\\nonexistent\\dump.syx は開けません"), std::wstring::npos);
    ::CloseHandle(screen);
    ::FreeConsole();
}

}  // namespace
