#include "tests/browser/fake_cdp_peer_io.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>

namespace peerio {

namespace {
HANDLE g_in = nullptr;
HANDLE g_out = nullptr;
} // namespace

bool open(int argc, char **argv)
{
    const char *prefix = "--remote-debugging-io-pipes=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) != 0)
            continue;
        char *end = nullptr;
        const unsigned long long in = std::strtoull(argv[i] + std::strlen(prefix), &end, 10);
        if (!end || *end != ',')
            return false;
        const unsigned long long out = std::strtoull(end + 1, nullptr, 10);
        g_in = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(in));
        g_out = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(out));
        return g_in && g_out;
    }
    return false;
}

long read(char *buffer, std::size_t size)
{
    DWORD n = 0;
    if (!::ReadFile(g_in, buffer, static_cast<DWORD>(size), &n, nullptr))
        return -1;
    return static_cast<long>(n);
}

long write(const char *data, std::size_t size)
{
    DWORD n = 0;
    if (!::WriteFile(g_out, data, static_cast<DWORD>(size), &n, nullptr))
        return -1;
    return static_cast<long>(n);
}

void quit(int code)
{
    ::ExitProcess(static_cast<UINT>(code));
}

} // namespace peerio
