#include "service/fatal_error_handler.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

namespace fatalerror::detail {

namespace {
// Filled once before the filter is installed; the filter only copies from it.
wchar_t g_markerPath[MAX_PATH * 4] = {};
std::atomic_bool g_reported{false};
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;

LONG WINAPI onCrash(EXCEPTION_POINTERS *info)
{
    if (!g_reported.exchange(true) && g_markerPath[0] != L'\0') {
        const HANDLE file = CreateFileW(g_markerPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char line[64];
            const DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0;
            const int n = std::snprintf(line, sizeof line, "%ld EXCEPTION_%08lX\n", static_cast<long>(code), static_cast<unsigned long>(code));
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(n > 0 ? n : 0), &written, nullptr);
            CloseHandle(file);
        }
    }
    // A filter installed before ours (a debugging aid) still gets its turn.
    return g_previous ? g_previous(info) : EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

void installCrashMarker(const QString &markerPath)
{
    const std::wstring path = markerPath.toStdWString();
    if (path.size() >= sizeof g_markerPath / sizeof g_markerPath[0])
        return;
    std::wmemcpy(g_markerPath, path.c_str(), path.size() + 1);
    const LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(onCrash);
    if (previous != onCrash)
        g_previous = previous;
}

void markReported()
{
    g_reported = true;
}

} // namespace fatalerror::detail
