// End-to-end runs of the upload job: real headless Chromium driven over its
// pipe, the studio simulator, real MP4 clips. Waits are shrunk by
// TOLVAR_TIME_SCALE (set for this binary by CTest).
#include "tests/upload/e2e_fixture.h"
#include "tests/support/test_main.h"

#include "accounts/account_document.h"
#include "browser/browser_library.h"
#include "upload/browser_session.h"
#include "upload/elapsed_ticker.h"
#include "upload/job_state.h"
#include "tests/support/eventually.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

#include <chrono>
#include <csignal>
#include <thread>

namespace {
QStringList users(const QList<QJsonObject> &entries)
{
    QStringList out;
    for (const QJsonObject &e : entries)
        out.append(e.value("user").toString());
    out.sort();
    return out;
}
QStringList field(const QList<QJsonObject> &entries, const char *key)
{
    QStringList out;
    for (const QJsonObject &e : entries)
        out.append(e.value(QLatin1String(key)).toString());
    return out;
}

#ifdef Q_OS_LINUX
// The network service of the browser on `profile` (it writes the cookies)
// held stopped, as on a machine too busy to run it, and let go after `ms`.
class NetworkServiceStall final {
public:
    NetworkServiceStall(const QString &profile, int ms)
    {
        const QByteArray profileArg = "--user-data-dir=" + QFile::encodeName(profile);
        for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            // The browser's helpers retitle themselves: their arguments may come as one line.
            const QList<QByteArray> args = testsupport::readAll("/proc/" + entry + "/cmdline").replace('\0', ' ').split(' ');
            if (args.contains(profileArg) && args.contains("--utility-sub-type=network.mojom.NetworkService")) {
                m_pid = entry.toInt();
                break;
            }
        }
        if (m_pid > 0 && ::kill(m_pid, SIGSTOP) == 0)
            m_release = std::thread([this, ms] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                ::kill(m_pid, SIGCONT);
            });
    }
    ~NetworkServiceStall()
    {
        if (m_release.joinable())
            m_release.join();
    }
    bool holds() const { return m_release.joinable(); }

private:
    pid_t m_pid = 0;
    std::thread m_release;
};
#endif
} // namespace

TEST_F(UploadE2eTest, ThreeAccountsFromNumberTwoWithTwoVideosEach)
{
    startSimulator();
    for (const auto &[id, user] : QList<QPair<QString, QString>>{{"100", "甲用户"}, {"101", "bob"}, {"102", "carol"}}) {
        const QString folder = addAccount(id, user, m_run.file("videos/" + id));
        makeClip(folder + "/第一个.mp4");
        testsupport::writeAll(folder + "/第一个.jpg", "same-name cover");
        makeClip(folder + "/second.mp4");
    }
    m_form.setText("编辑框_账号序列", "2");
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("编辑框_标题前", "【原创】");
    m_form.setText("编辑框_标题后", "#尾");
    QStringList attempts;
    QObject::connect(m_job.get(), &UploadJob::videoStarted, m_job.get(), [&](int row, const QString &) { attempts.append(QString::number(row)); }, Qt::DirectConnection);

    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(attempts, (QStringList{"1", "1", "2", "2"}));
    const QList<QJsonObject> entries = ledger();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(users(entries), (QStringList{"bob", "bob", "carol", "carol"}));
    QStringList titles;
    for (const QJsonObject &e : entries) {
        titles.append(e.value("title").toString());
        EXPECT_FALSE(e.value("draft").toBool());
        EXPECT_EQ(e.value("cover").toString(), "platform");
    }
    EXPECT_EQ(titles.count("【原创】第一个#尾"), 2);
    EXPECT_EQ(titles.count("【原创】second#尾"), 2);
    EXPECT_EQ(m_form.text("编辑框_账号序列"), "4");
    EXPECT_EQ(m_form.text("开始"), "停止"); // a run that ends by itself leaves the caption
    EXPECT_EQ(m_form.text("分组框6"), "账号列表（右键点击操作）当前有账号：3个");
    EXPECT_EQ(m_form.text("分组框_控制"), "当前设置，每个账号发布2个视频后切换");
    for (const QString &id : {QString("101"), QString("102")}) {
        EXPECT_TRUE(QDir(m_run.file("videos/" + id)).entryList(QDir::Files).isEmpty()) << id.toStdString();
    }
    EXPECT_EQ(QDir(m_run.file("videos/100")).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(m_table.cell(1, AccountTable::PublishedToday), "2");
    EXPECT_EQ(m_table.cell(2, AccountTable::Nickname), "carol");
    EXPECT_EQ(m_table.cell(1, AccountTable::Status), "");

    // The next press only turns the caption back; with looping on, a run
    // starts over at the first account after the last.
    pressStartStop();
    EXPECT_EQ(m_form.text("开始"), "开始");
    m_form.setChecked("选择框_自动循环", true);
    m_form.setText("编辑框_单账号上传", "1");
    QueuedSpy accounts(m_job.get(), &UploadJob::accountStarted);
    pressStartStop();
    ASSERT_EVENTUALLY(accounts.count() >= 4, 120000);
    pressStartStop();
    m_job->waitUntilStopped();
    EXPECT_EQ(accounts.at(0).at(0).toInt(), 0); // number 4 > 3 accounts: back to the first
    EXPECT_EQ(accounts.at(3).at(0).toInt(), 0); // and again from the first after the last
    EXPECT_EQ(ledger().size(), 5); // account 100's first video
}

TEST_F(UploadE2eTest, DraftModeAndCoverModes)
{
    startSimulator();
    const QString folder = addAccount("100", "drafter", m_run.file("videos/a"));
    makeClip(folder + "/a1.mp4");
    makeClip(folder + "/a2.mp4");
    makeClip(folder + "/a3.mp4");
    QDir().mkpath(m_run.file("covers"));
    makePicture(m_run.file("covers/pick.jpg"));
    makePicture(folder + "/a2.jpg");
    m_form.setText("编辑框_随机封面目录", m_run.file("covers"));
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setChecked("选择框_保存草稿", true);

    // Platform cover, saved as draft.
    ASSERT_TRUE(runUntilDone());
    pressStartStop();
    // Same-name local cover.
    m_form.setChecked("选择框_保存草稿", false);
    m_form.setChecked("单选框_本地封面", true);
    m_form.setText("编辑框_账号序列", "1");
    ASSERT_TRUE(runUntilDone());
    pressStartStop();
    // Random picture of the cover folder.
    m_form.setChecked("单选框_本地随机封面", true);
    m_form.setText("编辑框_账号序列", "1");
    ASSERT_TRUE(runUntilDone());

    const QList<QJsonObject> entries = ledger();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_TRUE(entries[0].value("draft").toBool());
    EXPECT_EQ(entries[0].value("title").toString(), "a1");
    EXPECT_EQ(entries[0].value("cover").toString(), "platform");
    EXPECT_FALSE(entries[1].value("draft").toBool());
    EXPECT_EQ(entries[1].value("title").toString(), "a2");
    EXPECT_EQ(entries[1].value("cover").toString(), "uploaded");
    EXPECT_EQ(entries[2].value("title").toString(), "a3");
    EXPECT_EQ(entries[2].value("cover").toString(), "uploaded");
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty()); // covers went with their videos
    EXPECT_TRUE(QFile::exists(m_run.file("covers/pick.jpg")));
}

// A used folder that cannot be had (a file has its name) keeps published
// videos in place, never to go out again: the account goes on with its next
// video and says why. A used folder that is merely missing is made.
TEST_F(UploadE2eTest, MoveModeAndAMissingUsedFolder)
{
    startSimulator();
    const QString folder = addAccount("100", "mover", m_run.file("videos/m"));
    makeClip(folder + "/x.MP4");
    makeClip(folder + "/y.mp4");
    testsupport::writeAll(folder + "/y.jpg", "cover of y");
    const QString longName = QString(31, QChar(u'名'));
    makeClip(folder + "/" + longName + ".mp4");
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setChecked("单选框_移动", true);
    ASSERT_TRUE(testsupport::writeAll(m_run.file("not-a-folder"), "x"));
    m_form.setText("编辑框_使用过视频目录", m_run.file("not-a-folder"));

    // x.MP4 (upper-case extension) is found and published, then y.mp4: neither can be moved.
    ASSERT_TRUE(runUntilDone());
    pressStartStop();
    EXPECT_EQ(field(ledger(), "file_name"), (QStringList{"x.MP4", "y.mp4"}));
    EXPECT_TRUE(QFile::exists(folder + "/x.MP4"));
    EXPECT_TRUE(QFile::exists(folder + "/y.mp4"));
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "已发布，移动失败");

    // The used folder is missing now: it is made, the two published videos
    // go there without going out again, and the long name is published.
    m_form.setText("编辑框_使用过视频目录", m_run.file("used"));
    m_form.setText("编辑框_账号序列", "1");
    m_form.setText("编辑框_单账号上传", "3");
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 3);
    // The long name was cut to thirty characters before upload.
    EXPECT_EQ(ledger()[2].value("title").toString(), QString(30, QChar(u'名')));
    EXPECT_TRUE(QFile::exists(m_run.file("used/x.MP4")));
    EXPECT_TRUE(QFile::exists(m_run.file("used/y.mp4")));
    EXPECT_TRUE(QFile::exists(m_run.file("used/y.jpg")));
    EXPECT_TRUE(QFile::exists(m_run.file("used/" + QString(30, QChar(u'名')) + ".mp4")));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
}

TEST_F(UploadE2eTest, AStalledUploadIsAbandonedAtTheLimitAndTheNextVideoGoesOn)
{
    startSimulator({"--stall-at", "40", "--upload-kbps", "64"});
    const QString folder = addAccount("100", "staller", m_run.file("videos/s"));
    makeClip(folder + "/a-stalls.mp4");
    makeClip(folder + "/b-next.mp4");
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("放弃秒", "20");
    QList<bool> results;
    QList<qint64> browsers;
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &, bool ok) { results.append(ok); }, Qt::DirectConnection);
    QObject::connect(m_job.get(), &UploadJob::videoStarted, m_job.get(), [&](int, const QString &) {
        browsers.append(BrowserLibrary::instance().browserProcessIds().value(0));
    }, Qt::DirectConnection);
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone());
    // The log says which video, at which step, and why.
    // One line per attempt, naming the step it reached (the upload, or the
    // file input when the browser was slow to come up).
    const QStringList why = log.linesWith({"tolvar.upload", "a-stalls.mp4", "abandoned while", "time limit of 20 s"});
    EXPECT_EQ(why.size(), 2) << log.linesWith({"tolvar.upload"}).join('\n').toStdString();
    ASSERT_EQ(results.size(), 2);
    EXPECT_FALSE(results[0]);
    EXPECT_FALSE(results[1]); // every upload stalls
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "上传失败");
    // The limit closed the first page: the second attempt had to start a fresh browser.
    ASSERT_EQ(browsers.size(), 2);
    EXPECT_EQ(browsers[1], 0);
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(QFile::exists(folder + "/a-stalls.mp4"));
    EXPECT_TRUE(QFile::exists(folder + "/b-next.mp4"));
}

TEST_F(UploadE2eTest, StopInTheMiddleOfAnUploadAndResume)
{
    startSimulator({"--upload-kbps", "1"});
    addAccount("100", "first", m_run.file("videos/1"));
    const QString folder = addAccount("101", "second", m_run.file("videos/2"));
    const QString clip = makeClip(folder + "/slow.mp4");
    m_form.setText("编辑框_账号序列", "2");
    m_form.setText("编辑框_单账号上传", "1");
    QueuedSpy started(m_job.get(), &UploadJob::videoStarted);
    pressStartStop();
    ASSERT_TRUE(started.wait(60000));
    QTest::qWait(2500); // the file is on its way
    pressStartStop();
    EXPECT_EQ(m_form.text("开始"), "开始");
    ASSERT_EVENTUALLY(!m_job->isRunning(), 3000);
    const QString status = m_table.cell(1, AccountTable::Status);
    QTest::qWait(1500);
    EXPECT_EQ(m_table.cell(1, AccountTable::Status), status); // the row keeps its texts, the ticker is gone
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(QFile::exists(clip));
    EXPECT_EQ(m_form.text("编辑框_账号序列"), "2");
    EXPECT_GT(BrowserLibrary::instance().form_page_isactive(currentPageId), 0); // the page stays open

    // Start resumes at the same account.
    m_sim->setKnobs({{"upload-kbps", "0"}});
    QueuedSpy accounts(m_job.get(), &UploadJob::accountStarted);
    ASSERT_TRUE(runUntilDone());
    ASSERT_GE(accounts.count(), 1);
    EXPECT_EQ(accounts.at(0).at(0).toInt(), 1);
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("user").toString(), "second");
}

TEST_F(UploadE2eTest, ABrowserKilledMidRunIsReplacedOnTheSameProfile)
{
    startSimulator({"--upload-kbps", "2"});
    const QString folder = addAccount("100", "survivor", m_run.file("videos/k"));
    makeClip(folder + "/k1.mp4");
    makeClip(folder + "/k2.mp4");
    m_form.setText("编辑框_单账号上传", "3");
    QList<qint64> wall;
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &, bool, qint64 ms) { wall.append(ms); },
                     Qt::DirectConnection);
    QueuedSpy started(m_job.get(), &UploadJob::videoStarted);
    pressStartStop();
    ASSERT_TRUE(started.wait(60000));
    QTest::qWait(1000);
    for (qint64 pid : BrowserLibrary::instance().browserProcessIds())
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    m_sim->setKnobs({{"upload-kbps", "0"}});
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    ASSERT_TRUE(done.wait(120000));
    // The attempt whose browser died ended with it, not at its time limit.
    ASSERT_FALSE(wall.isEmpty());
    EXPECT_LT(wall[0], 300 * 1000 * 0.05 / 2);
    EXPECT_EQ(ledger().size(), 2);
    EXPECT_EQ(users(ledger()), (QStringList{"survivor", "survivor"}));
}

TEST_F(UploadE2eTest, ALoggedOutAccountIsMarkedAndSkippedAndTheNextPublishes)
{
    startSimulator();
    const QString out = addAccount("100", "", m_run.file("videos/out"));
    makeClip(out + "/never.mp4");
    makeClip(out + "/never-either.mp4");
    const QString in = addAccount("101", "dave", m_run.file("videos/in"));
    makeClip(in + "/ok.mp4");
    m_form.setText("编辑框_单账号上传", "2");
    QList<bool> results;
    QList<qint64> wall;
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &, bool ok, qint64 ms) {
        results.append(ok);
        wall.append(ms);
    }, Qt::DirectConnection);
    ASSERT_TRUE(runUntilDone());
    // One attempt for the logged-out account, ended at the login page, not at
    // the time limit; its second attempt of the round is skipped.
    EXPECT_EQ(results, (QList<bool>{false, true}));
    ASSERT_EQ(wall.size(), 2);
    EXPECT_LT(wall[0], 300 * 1000 * 0.05);
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "未登录");
    EXPECT_TRUE(QFile::exists(out + "/never-either.mp4"));
    EXPECT_TRUE(QFile::exists(out + "/never.mp4"));
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("user").toString(), "dave");
}

// A studio slow to answer its upload page: the browser's empty first
// document is no sign of a logout, the page is waited for and the video goes.
TEST_F(UploadE2eTest, AStudioPageSlowToComeIsWaitedForNotTakenForALogout)
{
    startSimulator({"--page-delay", "1500"});
    const QString folder = addAccount("100", "erin", m_run.file("videos/slow"));
    makeClip(folder + "/slow.mp4");
    ASSERT_TRUE(runUntilDone());
    EXPECT_NE(m_table.cell(0, AccountTable::Status), "未登录");
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("user").toString(), "erin");
}

TEST_F(UploadE2eTest, OpenUploadPageWritesTheUserAndLoginsSurviveARestart)
{
    startSimulator();
    addAccount("100", "eve", m_run.file("videos/e"));
    addAccount("101", "frank", m_run.file("videos/f"));
    BrowserSession &session = m_job->session();
    session.initBrowserLibrary();
    for (int round = 0; round < 2; ++round) {
        session.openUploadPage(0, "100");
        EXPECT_EQ(m_table.cell(0, AccountTable::Nickname), "eve");
        session.openUploadPage(1, "101");
        EXPECT_EQ(m_table.cell(1, AccountTable::Nickname), "frank");
        closeAllBrowsers();
        m_table.setCell(0, AccountTable::Nickname, "");
        m_table.setCell(1, AccountTable::Nickname, "");
    }
}

// A login the user has just made in the login window lives in the browser's
// memory only until the browser writes its profile on an orderly exit. The
// program closes that browser at once, and the busy browser is slow to exit:
// the login must survive.
TEST_F(UploadE2eTest, ALoginJustMadeSurvivesClosingItsBusyBrowserAtOnce)
{
#ifndef Q_OS_LINUX
    GTEST_SKIP() << "stalls the browser's network service with SIGSTOP";
#else
    startSimulator();
    addAccount("100", "", m_run.file("videos/l"));
    BrowserSession &session = m_job->session();
    session.initBrowserLibrary();
    BrowserLibrary &lib = BrowserLibrary::instance();
    const int login = session.openUploadPage(0, "100", false);
    ASSERT_GT(login, 0);
    ASSERT_TRUE(lib.form_dom_input(login, ".login-name", "lena"));
    ASSERT_TRUE(lib.form_dom_click(login, ".login-submit"));
    ASSERT_EVENTUALLY_EQ(lib.form_dom_gettext(login, ".user-info__username"), QStringLiteral("lena"), 30000);
    {
        // Well past 3 s, well inside the 10 s the browser allows itself.
        const NetworkServiceStall stall(lib.profileOfPage(login), 5000);
        ASSERT_TRUE(stall.holds());
        ASSERT_TRUE(lib.form_close_browser(login));
    }
    m_table.setCell(0, AccountTable::Nickname, "");
    ASSERT_GT(session.openUploadPage(0, "100"), 0);
    EXPECT_EQ(m_table.cell(0, AccountTable::Nickname), "lena");
#endif
}

TEST_F(UploadE2eTest, AnotherAccountsOpenBrowserIsNeverUsed)
{
    startSimulator();
    addAccount("100", "gina", m_run.file("videos/g"));
    const QString folder = addAccount("101", "hank", m_run.file("videos/h"));
    makeClip(folder + "/h1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_账号序列", "2");
    BrowserSession &session = m_job->session();
    session.initBrowserLibrary();
    session.openUploadPage(0, "100"); // left open, as after a run cut short
    ASSERT_EQ(m_table.cell(0, AccountTable::Nickname), "gina");
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(users(ledger()), QStringList{"hank"});
}

TEST_F(UploadE2eTest, OriginalWatermarkAndSyncAllReachTheirBoxes)
{
    startSimulator();
    const QString folder = addAccount("100", "ticker", m_run.file("videos/o"));
    makeClip(folder + "/o1.mp4");
    makeClip(folder + "/o2.mp4");
    makeClip(folder + "/o3.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setChecked("选择框_同步抖音", true);
    // Original with watermark and sync.
    m_form.setChecked("单选框_原创", true);
    m_form.setChecked("选择框_加水印", true);
    ASSERT_TRUE(runUntilDone());
    pressStartStop();
    // Original, sync only.
    m_form.setChecked("选择框_加水印", false);
    m_form.setText("编辑框_账号序列", "1");
    ASSERT_TRUE(runUntilDone());
    pressStartStop();
    // Repost with sync.
    m_form.setChecked("单选框_转载", true);
    m_form.setText("编辑框_账号序列", "1");
    ASSERT_TRUE(runUntilDone());

    const QList<QJsonObject> entries = ledger();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_TRUE(entries[0].value("original").toBool());
    EXPECT_TRUE(entries[0].value("watermark").toBool());
    EXPECT_TRUE(entries[0].value("sync").toBool());
    EXPECT_TRUE(entries[1].value("original").toBool());
    EXPECT_FALSE(entries[1].value("watermark").toBool());
    EXPECT_TRUE(entries[1].value("sync").toBool());
    EXPECT_FALSE(entries[2].value("original").toBool());
    EXPECT_TRUE(entries[2].value("sync").toBool());
}

TEST_F(UploadE2eTest, ACoverDialogThatNeverEnablesEndsAtTheTimeLimit)
{
    startSimulator({"--slow-dialogs", "600000"});
    const QString folder = addAccount("100", "patient", m_run.file("videos/c"));
    makeClip(folder + "/c1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("放弃秒", "200");
    QList<bool> results;
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &, bool ok) { results.append(ok); }, Qt::DirectConnection);
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone(90000));
    EXPECT_EQ(log.linesWith({"tolvar.upload", "c1.mp4", "abandoned while setting the cover"}).size(), 1)
        << log.linesWith({"tolvar.upload"}).join('\n').toStdString();
    EXPECT_EQ(results, QList<bool>{false});
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "上传失败");
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(QFile::exists(folder + "/c1.mp4"));
}
