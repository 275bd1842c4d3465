// tolvar.exe itself, under Wine, publishing to the studio simulator through a
// real Chromium: browser_relay.exe is its browser (the browser path of the
// settings) and relays the protocol pipe to browser_relay_host, which runs
// Debian's Chromium. Windows paths, code page 936 names, the journal, the
// report, the run log and the failure evidence are the Windows program's own.
//
// Needs (scripts/windows.sh sets them): WINEPREFIX, WINEPATH, TOLVAR_WIN_EXE
// (tolvar.exe), TOLVAR_RELAY_EXE (browser_relay.exe), and DISPLAY for the
// case with a window.
#include "base/gbk.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const QStringList kBrowserFlags = {"--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                                   "--disable-component-update", "--disable-sync"};

// The Windows name of a Linux path, as Wine's Z: drive shows it.
QString windowsPath(const QString &path)
{
    return QStringLiteral("Z:") + QDir::toNativeSeparators(QDir::cleanPath(path)).replace(u'/', u'\\');
}

QByteArray sha256Of(const QString &path)
{
    return QCryptographicHash::hash(testsupport::readAll(path), QCryptographicHash::Sha256).toHex();
}

bool waitFor(const std::function<bool()> &moment, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (moment())
            return true;
        QThread::msleep(20);
    }
    return moment();
}

struct Account {
    QString id;
    QString user;
    QString folder; // relative to the run directory
};

class WineE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_tolvarExe = qEnvironmentVariable("TOLVAR_WIN_EXE");
        m_relayExe = qEnvironmentVariable("TOLVAR_RELAY_EXE");
        m_prefix = qEnvironmentVariable("WINEPREFIX");
        ASSERT_TRUE(QFileInfo::exists(m_tolvarExe)) << "TOLVAR_WIN_EXE names no tolvar.exe: " << m_tolvarExe.toStdString();
        ASSERT_TRUE(QFileInfo::exists(m_relayExe)) << "TOLVAR_RELAY_EXE names no browser_relay.exe: " << m_relayExe.toStdString();
        ASSERT_TRUE(QFileInfo(m_prefix + "/drive_c").isDir()) << "WINEPREFIX is no Wine prefix: " << m_prefix.toStdString();
        // The disclaimer was accepted by this Windows user.
        const QStringList users = QDir(m_prefix + "/drive_c/users").entryList({}, QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &user : users) {
            if (user != "Public") {
                ASSERT_TRUE(testsupport::writeAll(m_prefix + "/drive_c/users/" + user + "/Documents/tvbq.dll", "accepted"));
            }
        }

        m_host.setProgram(QStringLiteral(TOLVAR_RELAY_HOST));
        m_host.setArguments({"--log", m_run.file("relay-host.log")});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOLVAR_RELAY_BROWSER_LOG", m_run.file("chromium-stderr.log"));
        m_host.setProcessEnvironment(env);
        m_host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_host.start();
        ASSERT_TRUE(m_host.waitForStarted(5000));
        while (!m_host.canReadLine() && m_host.waitForReadyRead(5000)) {
        }
        const QString first = QString::fromUtf8(m_host.readLine()).trimmed();
        ASSERT_TRUE(first.startsWith("listening on ")) << first.toStdString();
        m_relayPort = first.mid(13);
    }

    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("--- relay host log\n%s--- tolvar.exe's standard error\n%s--- end of logs/tolvar.log\n%s\n", qUtf8Printable(hostLog()),
                        testsupport::readAll(m_run.file("tolvar-stderr.log")).right(3000).constData(),
                        testsupport::readAll(m_run.file("logs/tolvar.log")).right(6000).constData());
        }
        if (m_tolvar && m_tolvar->state() != QProcess::NotRunning) {
            m_tolvar->kill();
            m_tolvar->waitForFinished(5000);
        }
        // Its input closing makes the host kill every browser and end.
        m_host.closeWriteChannel();
        EXPECT_TRUE(m_host.waitForFinished(30000));
        const QString log = hostLog();
        EXPECT_TRUE(log.contains("host ended, 0 sessions still running")) << log.toStdString();
    }

    void startSimulator(const QStringList &knobs = {})
    {
        m_sim = std::make_unique<testsupport::SimProcess>(knobs);
        ASSERT_TRUE(m_sim->isRunning()) << m_sim->startError().toStdString();
        const QString ini = QStringLiteral("[studio]\norigin=%1\n[browser]\nheadless=true\nextra_args=%2\n[update]\na=%1/u1/\nb=%1/u2/\nc=%1/u3/\n"
                                           "[quote]\nurl=%1/quote/?encode=text\n[notify]\nhost=%1\n")
                                .arg(m_sim->origin(), kBrowserFlags.join(' '));
        ASSERT_TRUE(testsupport::writeAll(m_run.file("data/services.ini"), ini.toUtf8()));
    }

    // Account files with Windows paths, and each profile logged in as its user.
    void addAccounts(const QList<Account> &accounts)
    {
        for (const Account &a : accounts) {
            const QString folder = m_run.file(a.folder);
            ASSERT_TRUE(QDir().mkpath(folder));
            QString json = QStringLiteral("{\"昵称\":\"自动获取\",\"素材目录\":\"%1\",\"缓存id\":\"%2\"}").arg(windowsPath(folder), a.id);
            json.replace(u'\\', QStringLiteral("\\\\"));
            ASSERT_TRUE(testsupport::writeAll(m_run.file("data/list/" + a.id + ".json"), json.toUtf8()));
            QString error;
            ASSERT_TRUE(m_sim->logInProfile(m_run.file("huancun/tolvar" + a.id), a.user, kBrowserFlags, &error)) << error.toStdString();
            m_userOf.insert(a.id, a.user);
        }
    }

    QString makeClip(const QString &relative, int seconds = 1)
    {
        QString error;
        const QString path = m_run.file(relative);
        EXPECT_TRUE(testsupport::makeClip(path, relative, &error, seconds)) << error.toStdString();
        return path;
    }

    // The settings file as the program keeps it (GBK, CR LF), with the relay
    // as the browser and `edits` and `checks` on top of the common ones.
    void writeSettings(const QList<QPair<QString, QString>> &edits, const QList<QPair<QString, bool>> &checks)
    {
        QDir().mkpath(m_run.file("已使用视频"));
        QString text = QStringLiteral("[编辑框]\r\n编辑框_视频间隔=0\r\n编辑框_账号序列=1\r\n编辑框_使用过视频目录=%1\r\n编辑框_google=%2\r\n")
                           .arg(windowsPath(m_run.file("已使用视频")), windowsPath(m_relayExe));
        for (const auto &[name, value] : edits)
            text += name + u'=' + value + QStringLiteral("\r\n");
        text += QStringLiteral("[单选框]\r\n单选框_删除=假\r\n单选框_移动=真\r\n选择框_自动循环=假\r\n");
        for (const auto &[name, on] : checks)
            text += name + u'=' + (on ? QStringLiteral("真") : QStringLiteral("假")) + QStringLiteral("\r\n");
        ASSERT_TRUE(testsupport::writeAll(m_run.file("data/setsoft.ini"), gbk::encode(text)));
    }

    // tolvar.exe with `args`, its run directory given as Wine shows it.
    void startTolvar(const QStringList &args)
    {
        m_tolvar = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOLVAR_RELAY_PORT", m_relayPort);
        env.insert("TOLVAR_TIME_SCALE", "0.05");
        m_tolvar->setProcessEnvironment(env);
        m_tolvar->setProcessChannelMode(QProcess::SeparateChannels);
        m_tolvar->setStandardErrorFile(m_run.file("tolvar-stderr.log"));
        m_tolvar->start("wine", QStringList{m_tolvarExe} + args + QStringList{"--start", "--run-dir", windowsPath(m_run.path())});
        ASSERT_TRUE(m_tolvar->waitForStarted(10000));
        m_output.clear();
    }

    // Reads what tolvar.exe printed so far, for up to `ms`.
    void readOutput(int ms)
    {
        m_tolvar->waitForReadyRead(ms);
        m_output += QString::fromUtf8(m_tolvar->readAllStandardOutput());
    }

    // A run loops over its accounts for as long as the program runs (the
    // loop check box is not a setting that is kept): once `outcome` holds,
    // the program is ended as a crash would end it, after a moment for the
    // last lines of its files. What it wrote must be on disk by then.
    bool runUntil(const std::function<bool()> &outcome, int ms)
    {
        const bool reached = waitFor([&] {
            readOutput(0);
            return outcome() || m_tolvar->state() == QProcess::NotRunning || crashed();
        }, ms) && outcome();
        if (crashed()) {
            // A debugger set in the prefix (winedbg --auto) prints its backtrace meanwhile.
            waitFor([&] { readOutput(100); return m_tolvar->state() == QProcess::NotRunning; }, 15000);
            ADD_FAILURE() << "tolvar.exe crashed: " << testsupport::readAll(m_run.file("tolvar-stderr.log")).toStdString() << m_output.toStdString();
        }
        EXPECT_TRUE(reached) << "tolvar.exe printed:\n" << m_output.toStdString() << "\nthe relay host logged:\n" << hostLog().toStdString();
        EXPECT_EQ(m_tolvar->state(), QProcess::Running) << "tolvar.exe ended early, exit code " << m_tolvar->exitCode();
        QThread::msleep(1000);
        readOutput(0);
        m_tolvar->kill();
        m_tolvar->waitForFinished(5000);
        return reached;
    }

    // Wine's report of an unhandled exception; Wine then waits for a debugger.
    bool crashed() const { return testsupport::readAll(m_run.file("tolvar-stderr.log")).contains("Unhandled"); }

    // Every one of `videos` published and gone from its folder into the used one.
    bool allPublishedAndMoved(const QList<QPair<QString, QByteArray>> &videos) const
    {
        for (const auto &[path, sha] : videos) {
            if (QFile::exists(path) || publishesOf(sha).isEmpty() || !QFile::exists(m_run.file("已使用视频/" + QFileInfo(path).fileName())))
                return false;
        }
        return true;
    }

    QString hostLog() const { return QString::fromUtf8(testsupport::readAll(m_run.file("relay-host.log"))); }
    // Lines of the host's log with `event` ("start", "files", "killed", "end").
    QStringList hostEvents(const QString &event) const
    {
        QStringList out;
        const QRegularExpression line(QStringLiteral("^\\d+ ") + event + u' ');
        for (const QString &l : hostLog().split(u'\n'))
            if (line.match(l).hasMatch())
                out << l;
        return out;
    }
    static qint64 eventTime(const QString &line) { return line.section(u' ', 0, 0).toLongLong(); }

    QString reportText() const
    {
        const QStringList reports = QDir(m_run.file("logs")).entryList({"report-*.csv"}, QDir::Files);
        return reports.isEmpty() ? QString() : QString::fromUtf8(testsupport::readAll(m_run.file("logs/" + reports.first())));
    }

    // Ledger entries of a video, by its bytes.
    QList<QJsonObject> publishesOf(const QByteArray &sha256) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &e : m_sim->ledger())
            if (e.value("file_sha256").toString().toLatin1() == sha256)
                out << e;
        return out;
    }

    void checkTwoChineseAccountsRun(const QStringList &modeArgs);

    testsupport::TempRunDir m_run;
    std::unique_ptr<testsupport::SimProcess> m_sim;
    QProcess m_host;
    std::unique_ptr<QProcess> m_tolvar;
    QString m_tolvarExe, m_relayExe, m_prefix, m_relayPort, m_output;
    QHash<QString, QString> m_userOf;
};

// Two accounts with Chinese folder and video names (one with a blank), a
// cover beside one video, a title prefix: each video published once under
// its own user, moved with its cover into 已使用视频, the journal, the report
// and the GBK run log written.
void WineE2e::checkTwoChineseAccountsRun(const QStringList &modeArgs)
{
    startSimulator();
    addAccounts({{"100", "风景号", "素材/风景号"}, {"101", "城市号", "素材/城市 号"}});
    const QString first = makeClip("素材/风景号/风景1.mp4");
    QString error;
    ASSERT_TRUE(testsupport::makePicture(m_run.file("素材/风景号/风景1.jpg"), &error)) << error.toStdString();
    const QString second = makeClip("素材/城市 号/城市 夜景.mp4");
    const QByteArray firstSha = sha256Of(first), secondSha = sha256Of(second);
    writeSettings({{"编辑框_标题前", "【原创】"}, {"编辑框_单账号上传", "1"}}, {});

    QElapsedTimer wall;
    wall.start();
    startTolvar(modeArgs);
    ASSERT_TRUE(runUntil([&] { return allPublishedAndMoved({{first, firstSha}, {second, secondSha}}); }, 120000));
    std::printf("tolvar.exe %s: two videos in %.1f s\n", qUtf8Printable(modeArgs.join(' ')), wall.elapsed() / 1000.0);

    const QList<QJsonObject> firstOut = publishesOf(firstSha), secondOut = publishesOf(secondSha);
    ASSERT_EQ(firstOut.size(), 1) << m_output.toStdString() << hostLog().toStdString();
    ASSERT_EQ(secondOut.size(), 1) << m_output.toStdString() << hostLog().toStdString();
    EXPECT_EQ(m_sim->ledger().size(), 2);
    EXPECT_EQ(firstOut[0].value("user").toString(), "风景号");
    EXPECT_EQ(firstOut[0].value("title").toString(), "【原创】风景1");
    EXPECT_EQ(firstOut[0].value("file_name").toString(), "风景1.mp4");
    EXPECT_EQ(secondOut[0].value("user").toString(), "城市号");
    EXPECT_EQ(secondOut[0].value("title").toString(), "【原创】城市 夜景");
    EXPECT_EQ(secondOut[0].value("file_name").toString(), "城市 夜景.mp4");

    // The files crossed the relay by their Linux names, the profiles too.
    const QString files = hostEvents("files").join('\n');
    EXPECT_TRUE(files.contains(first)) << files.toStdString();
    EXPECT_TRUE(files.contains(second)) << files.toStdString();
    EXPECT_TRUE(hostEvents("start").join('\n').contains("--user-data-dir=" + m_run.file("huancun/tolvar101")));

    // Used files and the cover moved aside; the folders are empty.
    for (const QString &name : {QString("风景1.mp4"), QString("风景1.jpg"), QString("城市 夜景.mp4")})
        EXPECT_TRUE(QFile::exists(m_run.file("已使用视频/" + name))) << name.toStdString();
    EXPECT_EQ(sha256Of(m_run.file("已使用视频/风景1.mp4")), firstSha);
    EXPECT_TRUE(QDir(m_run.file("素材/风景号")).isEmpty());
    EXPECT_TRUE(QDir(m_run.file("素材/城市 号")).isEmpty());

    // The journal holds both videos by their bytes, flushed before the exit.
    const QByteArray journal = testsupport::readAll(m_run.file("data/publish-journal.jsonl"));
    EXPECT_TRUE(journal.contains(firstSha)) << journal.toStdString();
    EXPECT_TRUE(journal.contains(secondSha)) << journal.toStdString();
    // The report: one published line per video, with its Windows path.
    const QString report = reportText();
    EXPECT_TRUE(report.contains(windowsPath(first))) << report.toStdString();
    EXPECT_TRUE(report.contains(windowsPath(second))) << report.toStdString();
    EXPECT_EQ(report.count(",published,"), 2) << report.toStdString();
    // The run log is GBK, as the Windows functions write it.
    const QStringList runLogs = QDir(m_run.file("data")).entryList({"运行日志*.txt"}, QDir::Files);
    ASSERT_EQ(runLogs.size(), 1) << QDir(m_run.file("data")).entryList().join(' ').toStdString();
    const QByteArray runLog = testsupport::readAll(m_run.file("data/" + runLogs.first()));
    EXPECT_TRUE(runLog.contains(gbk::encode(QStringLiteral("启动窗口创建完毕")))) << runLog.toStdString();
    EXPECT_FALSE(runLog.contains(QStringLiteral("启动窗口创建完毕").toUtf8()));
}

} // namespace

TEST_F(WineE2e, HeadlessTwoChineseAccountsEachPublishedOnceUnderItsUser)
{
    checkTwoChineseAccountsRun({"--headless"});
    EXPECT_TRUE(m_output.contains(QStringLiteral("video published: account 1: ") + windowsPath(m_run.file("素材/风景号/风景1.mp4"))))
        << m_output.toStdString();
}

// The same with the main window on the display, two accounts at once.
TEST_F(WineE2e, WithItsWindowAndTwoLanes)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
    checkTwoChineseAccountsRun({"--lanes", "2"});
    // Both browsers ran at the same time.
    const QStringList starts = hostEvents("start"), ends = hostEvents("end");
    ASSERT_EQ(starts.size(), 2) << hostLog().toStdString();
    ASSERT_GE(ends.size(), 1) << hostLog().toStdString();
    EXPECT_LT(eventTime(starts[1]), eventTime(ends[0])) << hostLog().toStdString();
}

// An upload that stalls for good is abandoned at the time limit (20 s, scaled):
// the page's screenshot and the reason under logs\failures, 上传失败.
TEST_F(WineE2e, AStalledUploadLeavesItsScreenshotAndReason)
{
    startSimulator({"--stall-at", "40", "--upload-kbps", "64"});
    addAccounts({{"102", "卡住号", "素材/卡住号"}});
    const QString clip = makeClip("素材/卡住号/卡住了.mp4");
    writeSettings({{"放弃秒", "20"}, {"编辑框_单账号上传", "1"}}, {{"选择框_自动放弃", true}});
    startTolvar({"--headless"});
    ASSERT_TRUE(runUntil([&] { return m_output.contains("video failed") && !QDir(m_run.file("logs/failures")).entryList({"*.txt"}).isEmpty(); }, 120000));

    EXPECT_TRUE(m_output.contains(QStringLiteral("video failed (上传失败): account 1: ") + windowsPath(clip))) << m_output.toStdString();
    EXPECT_TRUE(m_sim->ledger().isEmpty());
    EXPECT_TRUE(QFile::exists(clip)); // it stays for another try
    // The limit closed the stalled page's browser: the relay saw it go.
    ASSERT_FALSE(hostEvents("end").isEmpty()) << hostLog().toStdString();
    EXPECT_TRUE(hostEvents("end").first().contains(" end 1 ")) << hostLog().toStdString();
    const QDir failures(m_run.file("logs/failures"));
    const QStringList pngs = failures.entryList({"*.png"}, QDir::Files);
    const QStringList texts = failures.entryList({"*.txt"}, QDir::Files);
    ASSERT_GE(pngs.size(), 1) << failures.entryList().join(' ').toStdString();
    ASSERT_GE(texts.size(), 1);
    EXPECT_TRUE(pngs.first().contains(QStringLiteral("卡住了"))) << pngs.first().toStdString();
    EXPECT_TRUE(testsupport::readAll(failures.filePath(pngs.first())).startsWith("\x89PNG\r\n\x1a\n"));
    const QString reason = QString::fromUtf8(testsupport::readAll(failures.filePath(texts.first())));
    EXPECT_TRUE(reason.contains(QStringLiteral("video: ") + windowsPath(clip))) << reason.toStdString();
    EXPECT_TRUE(reason.contains(QStringLiteral("time limit of 20 s"))) << reason.toStdString();
    EXPECT_TRUE(reason.contains(pngs.first())) << reason.toStdString();
    const QString report = reportText();
    EXPECT_TRUE(report.contains(windowsPath(clip) + QStringLiteral(",卡住了,failed,"))) << report.toStdString();
}

// Chromium killed in the middle of an upload: tolvar.exe hears of the end at
// once (a call in flight then fails, and every later call fails at once
// instead of waiting out its time-out), the next video starts a fresh browser
// and publishes, and the interrupted one goes again.
TEST_F(WineE2e, ABrowserKilledMidUploadIsReplacedAndTheVideoPublished)
{
    startSimulator({"--upload-kbps", "2"});
    addAccounts({{"100", "幸存号", "素材/幸存号"}});
    const QString clip = makeClip("素材/幸存号/被打断.mp4", 3);
    const QString next = makeClip("素材/幸存号/后一个.mp4");
    const QByteArray sha = sha256Of(clip), nextSha = sha256Of(next);
    writeSettings({{"编辑框_单账号上传", "3"}}, {});
    startTolvar({"--headless"});

    // The file is on its way: kill the browser.
    ASSERT_TRUE(waitFor([&] { readOutput(0); return !hostEvents("files").isEmpty(); }, 60000)) << hostLog().toStdString();
    QThread::msleep(800);
    ASSERT_TRUE(publishesOf(sha).isEmpty());
    // The pipe's end reaches tolvar.exe through the relay; whether a call was
    // in flight at that moment or the job was between two of them is chance.
    const QString diagnostics = m_run.file("logs/tolvar.log");
    const auto browserEnds = [&] { return testsupport::readAll(diagnostics).count("closed its pipe"); };
    const qsizetype endsBefore = browserEnds();
    QElapsedTimer sinceKill;
    sinceKill.start();
    m_host.write("kill tolvar100\n");
    ASSERT_TRUE(m_host.waitForBytesWritten(2000));
    ASSERT_TRUE(waitFor([&] { return browserEnds() > endsBefore; }, 30000)) << testsupport::readAll(diagnostics).toStdString();
    const qint64 failedAfterMs = sinceKill.elapsed();
    m_sim->setKnobs({{"upload-kbps", "0"}});
    ASSERT_TRUE(runUntil([&] { return allPublishedAndMoved({{clip, sha}, {next, nextSha}}); }, 120000));

    std::printf("tolvar.exe heard of the browser's end %lld ms after it was killed\n", static_cast<long long>(failedAfterMs));
    EXPECT_LT(failedAfterMs, 3000);
    EXPECT_EQ(hostEvents("killed").size(), 1) << hostLog().toStdString();
    const QStringList starts = hostEvents("start");
    ASSERT_GE(starts.size(), 2) << hostLog().toStdString();
    EXPECT_GT(eventTime(starts[1]), eventTime(hostEvents("killed").first()));
    for (const QByteArray &video : {sha, nextSha}) {
        const QList<QJsonObject> out = publishesOf(video);
        ASSERT_EQ(out.size(), 1) << m_output.toStdString();
        EXPECT_EQ(out[0].value("user").toString(), "幸存号");
    }
    EXPECT_EQ(reportText().count(",failed,"), 1) << reportText().toStdString();
    EXPECT_EQ(reportText().count(",published,"), 2) << reportText().toStdString();
}
