// Starts a program in a console of its own, waits until FILE exists (it may
// hold wildcards), then
// sends Ctrl+Break to it as a user pressing the keys in that console would,
// and waits for it to end. Exit code: the program's, or 90 when it did not
// end within the time, 91 when it could not start, 92 when FILE never came.
//   console_break SECONDS FILE PROGRAM [ARGUMENTS...]
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

namespace {
std::wstring widen(const char *text)
{
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1)
        ::MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    return out;
}

std::wstring quoted(const std::wstring &arg)
{
    return L"\"" + arg + L"\"";
}
} // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    const DWORD seconds = static_cast<DWORD>(std::atoi(argv[1]));
    const std::wstring file = widen(argv[2]);
    std::wstring commandLine = quoted(widen(argv[3]));
    for (int i = 4; i < argc; ++i)
        commandLine += L" " + quoted(widen(argv[i]));

    // One console for both of us: Ctrl+Break goes to a process group in it.
    ::FreeConsole();
    ::AllocConsole();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info))
        return 91;
    bool ready = false;
    for (DWORD waited = 0; waited < seconds * 1000; waited += 100) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileW(file.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            ::FindClose(search);
            ready = true;
            break;
        }
        if (::WaitForSingleObject(info.hProcess, 100) == WAIT_OBJECT_0)
            break;
    }
    if (!ready) {
        ::TerminateProcess(info.hProcess, 1);
        return 92;
    }
    ::Sleep(3000); // past the start window's second, into the main window
    ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, info.dwProcessId);
    if (::WaitForSingleObject(info.hProcess, seconds * 1000) != WAIT_OBJECT_0) {
        ::TerminateProcess(info.hProcess, 1);
        return 90;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    return static_cast<int>(code);
}
