#include "tests/support/crash_trace.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char **argv)
{
    testsupport::installCrashTrace();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#ifdef Q_OS_WIN
    // As the program itself does: the process ends by terminating itself.
    // A normal exit runs every DLL's detach code after the other threads
    // were killed, and under Wine that hangs once an Application ran twice.
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(result));
#endif
    return result;
}
