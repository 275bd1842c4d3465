#include "browser/browser_discovery.h"
#include "browser/browser_library.h"
#include "tests/browser/browser_test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <unistd.h>

namespace {

// The browser's main process and every process below it.
QSet<qint64> processTree(qint64 root)
{
    QSet<qint64> tree{root};
    bool grew = true;
    while (grew) {
        grew = false;
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool ok = false;
            const qint64 pid = entry.toLongLong(&ok);
            if (!ok || tree.contains(pid))
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && tree.contains(fields[1].toLongLong())) {
                tree.insert(pid);
                grew = true;
            }
        }
    }
    return tree;
}

QSet<QByteArray> socketInodes(const QSet<qint64> &pids)
{
    QSet<QByteArray> inodes;
    for (qint64 pid : pids) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget().isEmpty() ? QFile::symLinkTarget(fd.filePath()) : fd.symLinkTarget();
            const QString name = QFileInfo(target).fileName();
            if (name.startsWith(QStringLiteral("socket:[")))
                inodes.insert(name.mid(8, name.size() - 9).toLatin1());
        }
    }
    return inodes;
}

// Listening TCP sockets (state 0A) owned by the given inodes.
int listeningSockets(const QSet<QByteArray> &inodes)
{
    int count = 0;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file{QString::fromLatin1(table)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine();
        while (!file.atEnd()) {
            const QList<QByteArray> cols = file.readLine().simplified().split(' ');
            if (cols.size() > 9 && cols[3] == "0A" && inodes.contains(cols[9]))
                ++count;
        }
    }
    return count;
}

} // namespace

TEST(BrowserLifecycle, KilledBrowserFailsTheRunningCallQuicklyAndThePageIsGone)
{
    QTemporaryDir dir;
    TestPageServer server;
    BrowserLibrary lib;
    std::atomic<int> page{0};
    std::atomic<int> closed{0};
    ASSERT_EQ(lib.form_global_init({}, [&](int p, int, int event) { (event == PageOpened ? page : closed) = p; }), 1);
    ASSERT_GT(lib.form_browser_start(server.url("/main"), headlessOptions(dir)), 0);
    ASSERT_GT(page.load(), 0);
    ASSERT_EQ(lib.browserProcessIds().size(), 1);
    const qint64 pid = lib.browserProcessIds().first();

    // A script that never ends keeps the call waiting on the browser.
    auto stuck = std::async(std::launch::async, [&] { return lib.evaluateScript(page, "for(;;){}"); });
    QThread::msleep(500);
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_EQ(stuck.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_TRUE(stuck.get().isEmpty());
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(lib.form_page_isactive(page), 0);
    EXPECT_EQ(closed.load(), page.load());
    EXPECT_TRUE(lib.form_get_html(page).isEmpty());
    EXPECT_FALSE(lib.form_dom_click(page, ".b"));
    EXPECT_TRUE(lib.form_connect_started().pageIds.isEmpty());
}

TEST(BrowserLifecycle, ABrowserThatDiedIsReapedNoZombieNoPipesLeft)
{
    QTemporaryDir dir;
    TestPageServer server;
    BrowserLibrary lib;
    ASSERT_EQ(lib.form_global_init({}), 1);
    const auto openFds = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files).size(); };
    const qsizetype fdsBefore = openFds();
    ASSERT_GT(lib.form_browser_start(server.url("/main"), headlessOptions(dir)), 0);
    const qint64 pid = lib.browserProcessIds().value(0);
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    // The user closed it, or it crashed: the next look at the browsers ends
    // its entry, and with it the process (no zombie) and our pipe ends.
    QElapsedTimer t;
    t.start();
    do {
        lib.form_connect_started();
        QThread::msleep(50);
    } while ((QFile::exists(QStringLiteral("/proc/%1").arg(pid)) || openFds() > fdsBefore) && t.elapsed() < 5000);
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(pid))) << "the browser process was not reaped";
    EXPECT_TRUE(lib.browserProcessIds().isEmpty());
    EXPECT_LE(openFds(), fdsBefore);
}

// A profile that restores its last session opens the old tabs beside the
// start address, in any order: the start page is the tab showing the start
// address, never merely the first or lowest-numbered one.
TEST(BrowserLifecycle, AProfileThatRestoresItsSessionHandsOverTheStartPage)
{
    QTemporaryDir dir;
    TestPageServer server;
    const BrowserStartOptions options = headlessOptions(dir, "restoring");
    {
        BrowserLibrary lib;
        std::atomic<int> first{0};
        ASSERT_EQ(lib.form_global_init({}, [&](int p, int, int event) {
            if (event == PageOpened && first == 0)
                first = p;
        }), 1);
        ASSERT_GT(lib.form_browser_start(server.url("/main?old=1"), options), 0);
        ASSERT_GT(lib.form_browser_start(server.url("/actionable?old=2"), options), 0);
        ASSERT_EQ(lib.form_connect_started().pageIds.size(), 2);
        // The browser writes its session a moment after a change, later on a
        // busy machine; closed before that, it has nothing to restore. Wait
        // until one of its session files names both tabs.
        const QDir sessions(dir.filePath("restoring/Default/Sessions"));
        const auto written = [&] {
            for (const QFileInfo &info : sessions.entryInfoList({"Session_*"}, QDir::Files)) {
                QFile f(info.filePath());
                if (!f.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray bytes = f.readAll();
                if (bytes.contains(server.url("/main?old=1").toUtf8()) && bytes.contains(server.url("/actionable?old=2").toUtf8()))
                    return true;
            }
            return false;
        };
        QElapsedTimer writing;
        writing.start();
        while (!written() && writing.elapsed() < 30000)
            QThread::msleep(100);
        ASSERT_TRUE(written()) << "the browser wrote no session naming both tabs";
        EXPECT_TRUE(lib.form_close_browser(first));
    }
    // The user's choice "continue where you left off".
    const QString preferences = dir.filePath("restoring/Default/Preferences");
    QFile file(preferences);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << preferences.toStdString();
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonObject session = root.value("session").toObject();
    session.insert("restore_on_startup", 1);
    root.insert("session", session);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(root).toJson());
    file.close();

    BrowserLibrary lib;
    std::atomic<int> started{0};
    ASSERT_EQ(lib.form_global_init({}, [&](int p, int, int event) {
        if (event == PageOpened && started == 0)
            started = p;
    }), 1);
    ASSERT_GT(lib.form_browser_start(server.url("/second?start=1"), options), 0);
    ASSERT_GT(started.load(), 0);
    EXPECT_EQ(lib.form_get_page_url(started).toStdString(), server.url("/second?start=1").toStdString());
    // The old tabs really came back beside it.
    QElapsedTimer waited;
    waited.start();
    QStringList urls;
    while (waited.elapsed() < 30000) {
        urls.clear();
        for (int page : lib.form_connect_started().pageIds)
            urls << lib.form_get_page_url(page);
        if (urls.size() >= 3)
            break;
        QThread::msleep(100);
    }
    EXPECT_TRUE(urls.contains(server.url("/main?old=1"))) << urls.join(' ').toStdString();
    EXPECT_TRUE(urls.contains(server.url("/actionable?old=2"))) << urls.join(' ').toStdString();
    lib.form_close_browser(started);
}

TEST(BrowserLifecycle, HungPageCallTimesOut)
{
    QTemporaryDir dir;
    TestPageServer server;
    BrowserLibrary lib;
    std::atomic<int> page{0};
    ASSERT_EQ(lib.form_global_init({}, [&](int p, int, int) { page = p; }), 1);
    ASSERT_GT(lib.form_browser_start(server.url("/main"), headlessOptions(dir)), 0);
    lib.setCallTimeoutMs(700);
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(lib.evaluateScript(page, "for(;;){}").isEmpty());
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(lib.form_close_browser(page));
    EXPECT_EQ(lib.form_page_isactive(page), 0);
}

TEST(BrowserLifecycle, NoTcpPortIsListenedOnAndCloseEndsTheProcess)
{
    QTemporaryDir dir;
    TestPageServer server;
    BrowserLibrary lib;
    std::atomic<int> page{0};
    ASSERT_EQ(lib.form_global_init(QStringLiteral("/usr/bin/chromium"), [&](int p, int, int) { page = p; }), 1);
    ASSERT_GT(lib.form_browser_start(server.url("/main"), headlessOptions(dir)), 0);
    QElapsedTimer loading;
    loading.start();
    while (lib.form_dom_isexist(page, "#log") != 1 && loading.elapsed() < 5000)
        QThread::msleep(20);
    ASSERT_EQ(lib.form_dom_isexist(page, "#log"), 1);
    const qint64 pid = lib.browserProcessIds().first();
    const QSet<qint64> tree = processTree(pid);
    EXPECT_GT(tree.size(), 1); // renderers and helpers are looked at too
    EXPECT_EQ(listeningSockets(socketInodes(tree)), 0);
    // The check itself can see a listener: the test server's own socket.
    EXPECT_EQ(listeningSockets(socketInodes(QSet<qint64>{QCoreApplication::applicationPid()})), 1);

    EXPECT_TRUE(lib.form_close_browser(page));
    EXPECT_EQ(lib.form_page_isactive(page), 0);
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1/stat").arg(pid)));
    EXPECT_TRUE(lib.browserProcessIds().isEmpty());
    // The profile is free again: a new browser starts on it.
    EXPECT_GT(lib.form_browser_start(server.url("/second"), headlessOptions(dir)), 0);
}

TEST(BrowserDiscovery, FindsInstalledBrowserAndRejectsBadPaths)
{
    BrowserLibrary lib;
    EXPECT_EQ(lib.form_global_init(), 1);
    EXPECT_TRUE(browserdiscovery::isExecutableFile(lib.browserPath()));
    EXPECT_EQ(lib.form_global_init(QStringLiteral("/nonexistent/chrome")), 0);
    EXPECT_EQ(lib.form_global_init(QDir::tempPath()), 0);
    QTemporaryDir dir;
    const QString plainFile = dir.filePath(QStringLiteral("chrome"));
    QFile file(plainFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.close();
    BrowserLibrary fresh;
    EXPECT_EQ(fresh.form_global_init(plainFile), 0);
    EXPECT_EQ(fresh.form_browser_start(QStringLiteral("about:blank"), headlessOptions(dir)), 0); // never found one
}

TEST(BrowserDiscovery, LaunchArguments)
{
    BrowserStartOptions options;
    options.profileDirectory = QStringLiteral("/tmp/p/tolvar100");
    options.windowSize = QStringLiteral("683,614.4");
    options.extraArgs = {QStringLiteral("--remote-debugging-port=9222"), QStringLiteral("--lang=zh-CN")};
    const QStringList args = browserdiscovery::launchArguments(options, QStringLiteral("http://127.0.0.1:8721/upload"));
    EXPECT_TRUE(args.contains(QStringLiteral("--user-data-dir=/tmp/p/tolvar100")));
    EXPECT_TRUE(args.contains(QStringLiteral("--window-size=683,614")));
    EXPECT_TRUE(args.contains(QStringLiteral("--window-position=1,1")));
    EXPECT_TRUE(args.contains(QStringLiteral("--lang=zh-CN")));
    for (const char *flag : {"--disable-backgrounding-occluded-windows", "--disable-renderer-backgrounding", "--disable-background-timer-throttling"})
        EXPECT_TRUE(args.contains(QLatin1String(flag))) << flag;
    EXPECT_FALSE(args.contains(QStringLiteral("--headless=new")));
    EXPECT_EQ(args.filter(QStringLiteral("remote-debugging")).size(), 0);
    EXPECT_EQ(args.last(), QStringLiteral("http://127.0.0.1:8721/upload"));
    EXPECT_EQ(args.contains(QStringLiteral("--no-sandbox")), ::geteuid() == 0);
}
