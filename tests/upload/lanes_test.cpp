// Several accounts at once, each in a lane with its own browser: real
// headless Chromium and the simulator, waits shrunk by TOLVAR_TIME_SCALE.
#include "tests/upload/e2e_fixture.h"

#include "browser/browser_library.h"
#include "tests/support/test_main.h"
#include "upload/browser_session.h"
#include "upload/elapsed_ticker.h"
#include "upload/run_report.h"
#include "tests/support/eventually.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTest>

namespace {

class LanesTest : public UploadE2eTest {
protected:
    // Accounts 100, 101 … logged in as user0, user1 …, each with `clips` clips.
    void addAccounts(int accounts, int clips)
    {
        for (int a = 0; a < accounts; ++a) {
            const QString id = QString::number(100 + a);
            const QString folder = addAccount(id, QStringLiteral("user%1").arg(a), m_run.file("videos/" + id));
            for (int c = 1; c <= clips; ++c)
                m_userOfClip.insert(sha256Of(makeClip(folder + QStringLiteral("/%1-%2.mp4").arg(id).arg(c))), QStringLiteral("user%1").arg(a));
        }
    }
    void setLaneSettings(const QString &lines)
    {
        QByteArray ini = testsupport::readAll(m_run.file("data/services.ini"));
        if (ini.contains("[lanes]"))
            ini = ini.left(ini.indexOf("[lanes]"));
        ini += "[lanes]\n" + lines.toUtf8() + "\n";
        ASSERT_TRUE(testsupport::writeAll(m_run.file("data/services.ini"), ini));
    }
    QHash<QByteArray, QString> m_userOfClip;
};

// Processes of the machine whose command line names the account's browser
// profile: what is left of its browser, whatever the library thinks.
int processesOnProfileOf(const QString &accountId)
{
    const QByteArray flag = ("--user-data-dir=" + QDir(BrowserSession::profileDirectory(accountId)).absolutePath()).toUtf8();
    int count = 0;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(flag))
            ++count;
    }
    return count;
}

} // namespace

// Two lanes over five accounts of two videos each: every video once under
// its own user, two users' uploads under way at the same time, each row
// with its own outcome, and the account number past the last account.
TEST_F(LanesTest, TwoLanesPublishEveryVideoOnceUnderItsOwnUserSideBySide)
{
    startSimulator();
    addAccounts(5, 2);
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("编辑框_同时账号数", "2");
    ASSERT_TRUE(runUntilDone(400000));
    const QList<QJsonObject> entries = ledger();
    ASSERT_EQ(entries.size(), 10);
    QSet<QByteArray> seen;
    for (const QJsonObject &e : entries) {
        const QByteArray sha = e.value("file_sha256").toString().toLatin1();
        EXPECT_FALSE(seen.contains(sha)) << e.value("file_name").toString().toStdString() << " went out twice";
        seen.insert(sha);
        EXPECT_EQ(e.value("user").toString(), m_userOfClip.value(sha)) << e.value("file_name").toString().toStdString();
    }
    bool overlapped = false;
    for (const QJsonObject &a : entries) {
        for (const QJsonObject &b : entries) {
            overlapped = overlapped
                || (a.value("user") != b.value("user") && a.value("upload_began_ms").toDouble() < b.value("published_ms").toDouble()
                    && b.value("upload_began_ms").toDouble() < a.value("published_ms").toDouble());
        }
    }
    EXPECT_TRUE(overlapped) << "no two users' uploads were ever under way at once";
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(m_table.cell(row, AccountTable::PublishedToday), "2") << "row " << row;
        EXPECT_TRUE(m_table.cell(row, AccountTable::Status).isEmpty()) << m_table.cell(row, AccountTable::Status).toStdString();
    }
    EXPECT_EQ(m_form.text("编辑框_账号序列"), "6");
    EXPECT_EQ(m_form.partText("状态条1", 1), "0个账号同时运行，已发布10个，失败0个");
}

// Stop with three lanes in the middle of their uploads: nothing more goes
// out, no job thread, ticker or extra browser stays, and Start again begins
// at the lowest account not finished.
TEST_F(LanesTest, StopReachesEveryLaneAndStartResumesAtTheLowestUnfinishedAccount)
{
    startSimulator({"--stall-at", "40"});
    addAccounts(4, 1);
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_同时账号数", "3");
    QueuedSpy started(m_job.get(), &UploadJob::videoStarted);
    pressStartStop();
    ASSERT_EVENTUALLY(started.size() >= 3, 120000);
    QTest::qWait(1500);
    QElapsedTimer stopping;
    stopping.start();
    pressStartStop();
    EXPECT_EQ(m_form.text("开始"), "开始");
    ASSERT_EVENTUALLY(!m_job->isRunning() && ElapsedTicker::liveCount() == 0, 2000);
    std::printf("stop with 3 lanes: every lane and ticker ended after %lld ms\n", static_cast<long long>(stopping.elapsed()));
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_LE(BrowserLibrary::instance().browserProcessIds().size(), 1);
    EXPECT_EQ(m_form.text("编辑框_账号序列"), "1");
    QTest::qWait(2000);
    EXPECT_FALSE(m_job->isRunning());

    m_sim->setKnobs({{"stall-at", "-1"}});
    ASSERT_TRUE(runUntilDone(300000));
    EXPECT_EQ(ledger().size(), 4);
    EXPECT_EQ(m_form.text("编辑框_账号序列"), "5");
}

// More lanes than the machine's memory holds browsers for: one lane runs,
// the others wait with 等待内存, and they go on once the threshold is lowered.
TEST_F(LanesTest, LanesWaitForMemoryAndGoOnWhenItIsThere)
{
    startSimulator();
    addAccounts(3, 1);
    setLaneSettings("min_free_mb=100000000");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_同时账号数", "3");
    pressStartStop();
    const auto waiting = [this] {
        int n = 0;
        for (int row = 0; row < 3; ++row)
            n += m_table.cell(row, AccountTable::Status) == "等待内存" ? 1 : 0;
        return n;
    };
    ASSERT_EVENTUALLY_EQ(waiting(), 2, 60000);
    setLaneSettings("min_free_mb=0");
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    ASSERT_TRUE(done.wait(300000));
    EXPECT_EQ(ledger().size(), 3);
    EXPECT_EQ(waiting(), 0);
}

// A studio that refuses every cover: after so many attempts in a row failed
// at the same step the run stops itself and says where.
TEST_F(LanesTest, TheSameFailureAgainAndAgainStopsTheRun)
{
    startSimulator({"--fail-cover"});
    addAccounts(6, 1);
    setLaneSettings("same_failure_stop=3");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_同时账号数", "2");
    m_form.setText("放弃秒", "600"); // seconds of the scaled clock: half a minute
    QueuedSpy stopped(m_job.get(), &UploadJob::stoppedByRepeatedFailures);
    QueuedSpy finished(m_job.get(), &UploadJob::videoFinished);
    pressStartStop();
    ASSERT_TRUE(stopped.wait(300000));
    const QString message = "连续3个视频在同一步骤失败（设置封面），已停止，请检查发布页面是否改版";
    EXPECT_EQ(stopped.first().first().toString(), message);
    EXPECT_EQ(m_form.text("开始"), "开始");
    ASSERT_EVENTUALLY(!m_job->isRunning(), 10000);
    EXPECT_TRUE(m_job->stoppedOnRepeatedFailures());
    EXPECT_EQ(m_form.partText("状态条1", 1), message);
    EXPECT_LT(finished.size(), 6);
    EXPECT_TRUE(ledger().isEmpty());
}

// A matrix laid out as users lay them out, with two lanes: two accounts on
// one pool folder, an account whose folder is offline, a row copied from
// another without a new id, and an account the interrupted pass had
// finished. Each clip of the pool goes out once; nothing goes out from the
// default folder, under a borrowed profile, or a second time in one pass.
TEST_F(LanesTest, EveryAccountKeepsItsOwnFolderProfileAndPass)
{
    startSimulator();
    const QString pool = m_run.file("videos/pool");
    addAccount("100", "user0", pool);
    addAccount("101", "user1", pool);
    QSet<QByteArray> poolClips;
    for (int c = 1; c <= 2; ++c)
        poolClips.insert(sha256Of(makeClip(pool + QStringLiteral("/p%1.mp4").arg(c))));
    addAccount("102", "user2", m_run.file("videos/offline-share"));
    ASSERT_TRUE(QDir(m_run.file("videos/offline-share")).removeRecursively());
    const QString fallback = makeClip(m_run.file("videos/clicked-last/q1.mp4"));
    m_form.setText("编辑框_视频素材目录", m_run.file("videos/clicked-last"));
    const QString copiedFolder = m_run.file("videos/copy");
    QDir().mkpath(copiedFolder);
    const QString copied = makeClip(copiedFolder + "/e1.mp4");
    m_table.appendRow({"4", QString(), copiedFolder, "100", QString()});
    const QString finishedClip = makeClip(addAccount("104", "user4", m_run.file("videos/f")) + "/f1.mp4");
    ASSERT_TRUE(testsupport::writeAll(m_run.file("data/pass.json"), R"({"start":"1","sequence":"1","finished":["104"]})"));
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_同时账号数", "2");
    currentRow = 1; // the row the user selected: the window's commands act on it
    ASSERT_TRUE(runUntilDone(400000));
    EXPECT_EQ(currentRow.load(), 1) << "a lane moved the window's row";

    const QList<QJsonObject> entries = ledger();
    QSet<QByteArray> published;
    for (const QJsonObject &e : entries) {
        const QByteArray sha = e.value("file_sha256").toString().toLatin1();
        EXPECT_TRUE(poolClips.contains(sha)) << e.value("file_name").toString().toStdString() << " went out under " << e.value("user").toString().toStdString();
        EXPECT_FALSE(published.contains(sha)) << e.value("file_name").toString().toStdString() << " went out twice";
        published.insert(sha);
    }
    EXPECT_EQ(published, poolClips);
    EXPECT_EQ(m_table.cell(2, AccountTable::Status), "素材目录不存在");
    EXPECT_TRUE(QFile::exists(fallback));
    EXPECT_EQ(m_table.cell(3, AccountTable::Status), "账号标识重复");
    EXPECT_TRUE(QFile::exists(copied));
    EXPECT_TRUE(QFile::exists(finishedClip));
    EXPECT_FALSE(QFile::exists(m_run.file("data/pass.json"))) << "a pass gone through to its end is not resumed";
    const QByteArray report = testsupport::readAll(runreport::reportPath(QDate::currentDate()));
    EXPECT_TRUE(report.contains("offline-share does not exist")) << report.constData();
}

// The renderer of the account's page crashes mid-upload: the lane is left
// with no page, but the browser it started goes with the account's turn.
TEST_F(LanesTest, ABrowserWhosePageCrashedEndsWithItsAccount)
{
    startSimulator({"--stall-at", "50"});
    addAccounts(1, 1);
    m_form.setText("编辑框_单账号上传", "1");
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    pressStartStop();
    ASSERT_TRUE(QTest::qWaitFor([] { return currentPageId.load() > 0; }, 60000));
    ASSERT_GT(processesOnProfileOf("100"), 0);
    BrowserLibrary::instance().form_forward_url(currentPageId.load(), "chrome://crash");
    ASSERT_TRUE(done.wait(120000));
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([] { return processesOnProfileOf("100") == 0; }, 10000)) << "its browser outlived the account's turn";
    EXPECT_TRUE(BrowserLibrary::instance().browserProcessIds().isEmpty());
}

// Stop while lane 2 waits for the upload box of the page it had open
// already (its second video, a slow studio): lane 1 keeps its browser as a
// stopped run always has, lane 2's goes.
TEST_F(LanesTest, StopDuringTheUploadBoxWaitLeavesNoBrowserOfLaneTwo)
{
    startSimulator({"--page-delay", "5000"});
    addAccounts(2, 2);
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("编辑框_同时账号数", "2");
    m_form.setText("放弃秒", "2400"); // the slow pages stay well inside the time limit
    QueuedSpy started(m_job.get(), &UploadJob::videoStarted);
    pressStartStop();
    // Lane 1 is the one whose page is the process-wide one.
    ASSERT_TRUE(QTest::qWaitFor([] { return currentPageId.load() > 0; }, 60000));
    const bool firstIs100 = BrowserLibrary::instance().profileOfPage(currentPageId.load()) == QDir(BrowserSession::profileDirectory("100")).absolutePath();
    const QString laneTwoAccount = firstIs100 ? "101" : "100";
    const int laneTwoRow = firstIs100 ? 1 : 0;
    const auto startsOfLaneTwo = [&] {
        int n = 0;
        for (qsizetype i = 0; i < started.size(); ++i)
            n += started.at(i).at(0).toInt() == laneTwoRow ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return startsOfLaneTwo() == 2; }, 180000));
    QTest::qWait(1500);
    pressStartStop();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_job->isRunning(); }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return processesOnProfileOf(laneTwoAccount) == 0; }, 10000))
        << "the browser of lane 2 (account " << laneTwoAccount.toStdString() << ") is left";
}
