#include "tests/support/test_main.h"

#include "base/regex_jit.h"
#include "tests/support/crash_trace.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace testsupport {
namespace {

QtMessageHandler g_previous = nullptr;
std::atomic<int> g_expecting{0};
std::atomic<int> g_unknownControls{0};
QMutex g_captureMutex;
int g_captures = 0;
QStringList g_captured;

void checkMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool unknownControl = type == QtWarningMsg && context.category && std::strcmp(context.category, "tolvar.form") == 0;
    if (unknownControl) {
        ++g_unknownControls;
        if (g_expecting == 0)
            ADD_FAILURE() << "tolvar.form: " << message.toStdString();
    }
    {
        QMutexLocker lock(&g_captureMutex);
        if (g_captures > 0)
            g_captured.append(QString::fromLatin1(context.category ? context.category : "default") + QStringLiteral(": ") + message);
    }
    if (g_previous && type != QtDebugMsg)
        g_previous(type, context, message);
}

} // namespace

void prepareTestProcess()
{
    disableRegexJitWhereUnsafe();
    installCrashTrace();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

int runAllTests(int &argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    g_previous = qInstallMessageHandler(checkMessage);
    const int result = RUN_ALL_TESTS();
    qInstallMessageHandler(g_previous);
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

ExpectUnknownControls::ExpectUnknownControls()
{
    ++g_expecting;
    g_unknownControls = 0;
}

ExpectUnknownControls::~ExpectUnknownControls()
{
    --g_expecting;
}

int ExpectUnknownControls::count() const
{
    return g_unknownControls;
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_captureMutex);
    if (g_captures++ == 0) {
        g_captured.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("tolvar.*.debug=true"));
    }
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&g_captureMutex);
    if (--g_captures == 0)
        QLoggingCategory::setFilterRules(QString());
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_captureMutex);
    return g_captured;
}

QStringList LogCapture::linesWith(const QStringList &parts) const
{
    QStringList out;
    for (const QString &line : lines()) {
        bool all = true;
        for (const QString &part : parts)
            all = all && line.contains(part);
        if (all)
            out << line;
    }
    return out;
}

} // namespace testsupport
