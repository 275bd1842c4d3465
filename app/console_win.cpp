#include "app/console.h"

#include <cstdio>

#include <windows.h>

namespace console {

namespace {
bool hasStream(DWORD which)
{
    const HANDLE h = ::GetStdHandle(which);
    return h && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN;
}
} // namespace

void attachToParentConsole(bool headless)
{
    const bool out = hasStream(STD_OUTPUT_HANDLE);
    const bool err = hasStream(STD_ERROR_HANDLE);
    if (out && err && !headless)
        return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
}

} // namespace console
