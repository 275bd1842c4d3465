#include "tests/support/crash_trace.h"

#include <cstdio>

#include <windows.h>

namespace testsupport {

namespace {

void printAddress(const char *what, DWORD64 address)
{
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCSTR>(address), &module)) {
        ::GetModuleFileNameA(module, name, MAX_PATH);
    }
    const char *base = name;
    for (const char *p = name; *p; ++p)
        if (*p == '\\' || *p == '/')
            base = p + 1;
    std::fprintf(stderr, "  %s %s+0x%llx\n", what, base,
                 static_cast<unsigned long long>(address - reinterpret_cast<DWORD64>(module)));
}

LONG WINAPI onUnhandled(EXCEPTION_POINTERS *info)
{
    std::fprintf(stderr, "crash: exception 0x%08lx in thread %lu\n", info->ExceptionRecord->ExceptionCode, ::GetCurrentThreadId());
    CONTEXT context = *info->ContextRecord;
    printAddress("at", context.Rip);
    // Walk the faulting thread's stack with the unwind tables of each module.
    for (int frame = 0; frame < 40 && context.Rip; ++frame) {
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (!function) {
            context.Rip = *reinterpret_cast<DWORD64 *>(context.Rsp);
            context.Rsp += 8;
        } else {
            void *handlerData = nullptr;
            DWORD64 establisher = 0;
            ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher, nullptr);
        }
        if (context.Rip)
            printAddress("from", context.Rip);
    }
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void installCrashTrace()
{
    ::SetUnhandledExceptionFilter(onUnhandled);
}

} // namespace testsupport
