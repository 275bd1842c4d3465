#include "browser/module_platform.h"

#include <windows.h>

namespace moduleplatform {

bool isElevated()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) && elevation.TokenIsElevated;
    ::CloseHandle(token);
    return elevated;
}

void terminateSelf()
{
    ::TerminateProcess(::GetCurrentProcess(), 0);
    ::ExitProcess(0);
}

} // namespace moduleplatform
