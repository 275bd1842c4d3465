// Stands in for the browser executable under Wine: takes the two pipe handles
// tolvar.exe passes with --remote-debugging-io-pipes and relays their bytes,
// over a loopback connection, to browser_relay_host on Linux, which runs the
// real Chromium. The connection's first frame is this command line (UTF-8,
// the arguments split by '\n', ended by a NUL); then bytes go both ways as
// they come. When either side closes, everything closes and the program
// ends, so tolvar.exe sees its browser go.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

HANDLE g_commandsIn = nullptr; // tolvar.exe writes its commands here
HANDLE g_answersOut = nullptr; // and reads the answers from here
SOCKET g_socket = INVALID_SOCKET;

std::string utf8(const wchar_t *text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

bool parsePipes(const wchar_t *arg)
{
    const wchar_t *prefix = L"--remote-debugging-io-pipes=";
    const size_t length = std::wcslen(prefix);
    if (std::wcsncmp(arg, prefix, length) != 0)
        return false;
    wchar_t *end = nullptr;
    const unsigned long long in = std::wcstoull(arg + length, &end, 10);
    if (!end || *end != L',')
        return false;
    const unsigned long long out = std::wcstoull(end + 1, nullptr, 10);
    g_commandsIn = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(in));
    g_answersOut = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(out));
    return g_commandsIn && g_answersOut;
}

bool sendAll(const char *data, int size)
{
    while (size > 0) {
        const int n = ::send(g_socket, data, size, 0);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// tolvar.exe's commands to the host; its end closing ends our sending.
DWORD WINAPI commandsToHost(void *)
{
    static char buffer[64 * 1024];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(g_commandsIn, buffer, sizeof buffer, &n, nullptr) || n == 0)
            break;
        if (!sendAll(buffer, static_cast<int>(n)))
            break;
    }
    ::shutdown(g_socket, SD_SEND);
    return 0;
}

int fail(const char *why)
{
    std::fprintf(stderr, "browser_relay: %s (error %lu, socket error %d)\n", why, ::GetLastError(), ::WSAGetLastError());
    return 1;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv)
        return fail("cannot split the command line");
    std::string commandLine;
    bool havePipes = false;
    for (int i = 0; i < argc; ++i) {
        havePipes = parsePipes(argv[i]) || havePipes;
        commandLine += utf8(argv[i]);
        commandLine += '\n';
    }
    if (!havePipes)
        return fail("no --remote-debugging-io-pipes=<in>,<out> argument");
    const char *port = std::getenv("TOLVAR_RELAY_PORT");
    if (!port || !*port)
        return fail("TOLVAR_RELAY_PORT is not set");

    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return fail("WSAStartup failed");
    g_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (g_socket == INVALID_SOCKET)
        return fail("no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(g_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return fail("cannot connect to the relay host");
    if (!sendAll(commandLine.c_str(), static_cast<int>(commandLine.size() + 1)))
        return fail("cannot send the command line");

    HANDLE sender = ::CreateThread(nullptr, 0, commandsToHost, nullptr, 0, nullptr);
    if (!sender)
        return fail("no thread");
    // The host's answers to tolvar.exe, until the host closes (the browser
    // is gone) or tolvar.exe stops reading.
    static char buffer[64 * 1024];
    for (;;) {
        const int n = ::recv(g_socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        DWORD written = 0;
        DWORD offset = 0;
        bool ok = true;
        while (ok && offset < static_cast<DWORD>(n)) {
            ok = ::WriteFile(g_answersOut, buffer + offset, static_cast<DWORD>(n) - offset, &written, nullptr) && written > 0;
            offset += written;
        }
        if (!ok)
            break;
    }
    ::CloseHandle(g_answersOut);
    ::CloseHandle(g_commandsIn);
    ::closesocket(g_socket);
    ::WSACleanup();
    // The sender may still be blocked in ReadFile: end the process whole.
    ::ExitProcess(0);
}
