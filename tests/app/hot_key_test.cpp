// The global hot key needs a real X server: this test starts its own Xvfb,
// runs the application on it, gives the focus to another program's window
// and presses Ctrl+Alt+K with xdotool.
#include "app/application.h"
#include "tests/support/test_support.h"
#include "tests/support/eventually.h"

#include <QApplication>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {
QProcess *g_xvfb = nullptr;

bool waitForDisplay(const QString &display)
{
    for (int i = 0; i < 100; ++i) {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start("xdpyinfo", {"-display", display});
        if (probe.waitForFinished() && probe.exitCode() == 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

int xdotool(const QStringList &args)
{
    return QProcess::execute("xdotool", args);
}
} // namespace

TEST(GlobalHotKey, CtrlAltKActsAsAClickOnStartWhileAnotherWindowHasTheFocus)
{
    testsupport::TempRunDir run;
    Application app(CommandLine{});
    app.setExitProcess([] {});
    QSignalSpy ready(&app, &Application::mainWindowReady);
    app.startUp();
    ASSERT_TRUE(ready.wait(5000));
    ASSERT_TRUE(app.hotKeyRegistered());

    QProcess other;
    other.start("xmessage", {"-name", "otherapp", "-geometry", "300x100+400+400", "another program"});
    ASSERT_TRUE(other.waitForStarted());
    QString otherId;
    for (int i = 0; i < 100 && otherId.isEmpty(); ++i) {
        QProcess search;
        search.start("xdotool", {"search", "--classname", "otherapp"});
        search.waitForFinished();
        otherId = QString::fromLatin1(search.readAllStandardOutput()).split('\n').value(0).trimmed();
        if (otherId.isEmpty())
            QTest::qWait(50);
    }
    ASSERT_FALSE(otherId.isEmpty());
    ASSERT_EQ(xdotool({"windowfocus", "--sync", otherId}), 0);
    EXPECT_FALSE(app.mainWindow()->isActiveWindow());

    QSignalSpy clicks(&app.mainForm(), &Form::clicked);
    ASSERT_EQ(xdotool({"key", "--clearmodifiers", "ctrl+alt+k"}), 0);
    ASSERT_EVENTUALLY_EQ(clicks.count(), 1, 5000);
    EXPECT_EQ(clicks.at(0).at(0).toString(), QStringLiteral("开始"));

    // Plain K and Ctrl+K are not the hot key.
    ASSERT_EQ(xdotool({"key", "ctrl+k", "k"}), 0);
    QTest::qWait(300);
    EXPECT_EQ(clicks.count(), 1);
    other.kill();
    other.waitForFinished();
}

// Another program holds Ctrl+Alt+K: the key is not ours, we do not claim
// it, and the reason is in the diagnostic log.
TEST(GlobalHotKey, AKeyAnotherProgramHoldsIsNotClaimed)
{
    Display *other = XOpenDisplay(nullptr); // a second X client, as another program is
    ASSERT_NE(other, nullptr);
    const int k = XKeysymToKeycode(other, XK_k);
    XGrabKey(other, k, ControlMask | Mod1Mask, DefaultRootWindow(other), True, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    // Warnings come from the worker threads too.
    static QMutex mutex;
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtWarningMsg)
            return;
        QMutexLocker lock(&mutex);
        warnings << message;
    });
    {
        testsupport::TempRunDir run;
        Application app(CommandLine{});
        app.setExitProcess([] {});
        QSignalSpy ready(&app, &Application::mainWindowReady);
        app.startUp();
        ASSERT_TRUE(ready.wait(5000));
        EXPECT_FALSE(app.hotKeyRegistered());
    }
    qInstallMessageHandler(previous);
    QMutexLocker lock(&mutex);
    EXPECT_EQ(warnings.filter("Ctrl+Alt+K is not registered").filter("another program holds the key").size(), 1) << warnings.join('\n').toStdString();
    XCloseDisplay(other);
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty()) {
        std::fprintf(stderr, "Xvfb and xdotool are needed (scripts/setup-debian.sh installs them)\n");
        return 1;
    }
    // A display number of our own, derived from the process id.
    const QString display = QStringLiteral(":%1").arg(200 + (QCoreApplication::applicationPid() % 500));
    g_xvfb = new QProcess;
    g_xvfb->start("Xvfb", {display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    if (!g_xvfb->waitForStarted() || !waitForDisplay(display)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", display.toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int rc = 0;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    g_xvfb->terminate();
    g_xvfb->waitForFinished();
    delete g_xvfb;
    return rc;
}
