// A video goes out once, under its own account, and leaves its folder only
// after the studio has it: restarts after a crash, stale forms, stray page
// events, other accounts' browsers, the user's clicks during a run, refused
// files and used folders inside the material folder.
#include "tests/upload/e2e_fixture.h"

#include "accounts/account_document.h"
#include "accounts/account_store.h"
#include "accounts/account_table.h"
#include "browser/browser_library.h"
#include "tests/support/test_main.h"
#include "upload/browser_session.h"
#include "upload/job_state.h"
#include "upload/publish_journal.h"
#include "upload/run_report.h"
#include "tests/support/eventually.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

QStringList field(const QList<QJsonObject> &ledger, const char *key)
{
    QStringList out;
    for (const QJsonObject &entry : ledger)
        out << entry.value(QLatin1String(key)).toString();
    return out;
}

VideoIdentity identityOf(const QString &path, const QString &account, const QString &title)
{
    VideoIdentity id;
    id.sha256Hex = sha256OfFile(path);
    id.size = QFileInfo(path).size();
    id.name = QFileInfo(path).fileName();
    id.account = account;
    id.title = title;
    return id;
}

} // namespace

class PublishSafetyTest : public UploadE2eTest {
protected:
    // A run ended by itself; the window would show 开始 again.
    bool runAgainUntilDone(int timeoutMs = 120000)
    {
        m_form.setText("开始", "开始");
        return runUntilDone(timeoutMs);
    }
    QList<bool> results;
    void recordResults()
    {
        QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [this](int, const QString &, bool ok) { results.append(ok); },
                         Qt::DirectConnection);
    }
};

// Killed after the studio took the publish: the journal says so, and the
// video is disposed of instead of going out again.
TEST_F(PublishSafetyTest, AVideoTheJournalHoldsAsPublishedIsDisposedNotUploaded)
{
    startSimulator();
    const QString folder = addAccount("100", "ivy", m_run.file("videos/i"));
    const QString clip = makeClip(folder + "/done.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_使用过视频目录", m_run.file("used"));
    QDir().mkpath(m_run.file("used"));
    m_form.setChecked("单选框_移动", true);
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(identityOf(clip, "100", "done"), JournalState::Submitting));
        ASSERT_TRUE(journal.record(identityOf(clip, "100", "done"), JournalState::Published));
    }
    ASSERT_TRUE(runUntilDone());
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_FALSE(QFile::exists(clip));
    EXPECT_TRUE(QFile::exists(m_run.file("used/done.mp4")));
    PublishJournal journal;
    EXPECT_EQ(journal.stateOf(sha256OfFile(m_run.file("used/done.mp4")), QFileInfo(m_run.file("used/done.mp4")).size(), "100"), JournalState::Disposed);
}

// Killed between the press and the landing address: the content page
// decides. Found there, it is published; not found, it is held for the user.
TEST_F(PublishSafetyTest, ASubmittedVideoIsLookedUpInTheStudioThenDisposedOrHeld)
{
    startSimulator();
    const QString folder = addAccount("100", "jack", m_run.file("videos/j"));
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_使用过视频目录", m_run.file("used"));
    QDir().mkpath(m_run.file("used"));
    m_form.setChecked("单选框_移动", true);
    // Publish one for real, then put the same bytes back as if the process
    // had died after the press: the journal's last word is "submitting".
    const QString landed = makeClip(folder + "/landed.mp4");
    const QByteArray landedBytes = testsupport::readAll(landed);
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 1);
    ASSERT_TRUE(testsupport::writeAll(landed, landedBytes));
    const QString lost = makeClip(folder + "/lost.mp4");
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(identityOf(landed, "100", "landed"), JournalState::Submitting));
        ASSERT_TRUE(journal.record(identityOf(lost, "100", "lost"), JournalState::Submitting));
    }
    m_form.setText("编辑框_单账号上传", "2");
    ASSERT_TRUE(runAgainUntilDone());
    EXPECT_EQ(ledger().size(), 1); // neither went out again
    EXPECT_FALSE(QFile::exists(landed));
    EXPECT_TRUE(QFile::exists(m_run.file("used/landed (2).mp4")));
    EXPECT_FALSE(QFile::exists(lost));
    EXPECT_TRUE(QFile::exists(m_run.file("待确认视频/lost.mp4")));
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "待确认");
}

// A form left from a failed attempt still holds its finished upload; the
// next attempt must start on a fresh form, not publish the old upload under
// the new title and then delete the new file.
TEST_F(PublishSafetyTest, EveryAttemptStartsOnAFreshUploadForm)
{
    startSimulator({"--fail-cover"});
    const QString folder = addAccount("100", "kim", m_run.file("videos/k"));
    const QString first = makeClip(folder + "/a-first.mp4");
    const QString second = makeClip(folder + "/b-second.mp4");
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("放弃秒", "1200"); // seconds of the scaled clock: a minute
    m_form.setChecked("单选框_本地封面", true);
    makePicture(folder + "/a-first.jpg");
    makePicture(folder + "/b-second.jpg");
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &path, bool ok) {
        if (!ok && path == first) {
            // The failed video leaves the folder; covers work again.
            QFile::rename(first, m_run.file("aside.mp4"));
            m_sim->setKnobs({{"fail-cover", "false"}});
        }
    }, Qt::DirectConnection);
    ASSERT_TRUE(runUntilDone(180000));
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("title").toString(), "b-second");
    EXPECT_EQ(ledger()[0].value("file_name").toString(), "b-second.mp4");
    EXPECT_FALSE(ledgerHoldsFile(sha256Of(m_run.file("aside.mp4"))));
    EXPECT_FALSE(QFile::exists(second)); // published, then deleted
}

// Pages of other browsers opening and closing (a login window of another
// account) never become the job's page.
TEST_F(PublishSafetyTest, AnotherAccountsWindowOpeningAndClosingMidVideoChangesNothing)
{
    startSimulator();
    addAccount("100", "lee", m_run.file("videos/l"));
    const QString folder = addAccount("101", "max", m_run.file("videos/m"));
    makeClip(folder + "/m1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_账号序列", "2");
    m_form.setText("放弃秒", "1200"); // seconds of the scaled clock: a minute
    recordResults();
    QObject::connect(m_job.get(), &UploadJob::videoStarted, m_job.get(), [&](int, const QString &) {
        QTimer::singleShot(2500, m_job.get(), [&] {
            // The user opens account 1's login window from the list, and closes it.
            const int page = m_job->session().openUploadPage(0, "100", false);
            if (page > 0)
                BrowserLibrary::instance().form_close_browser(page);
        });
    });
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(results, QList<bool>{true});
    EXPECT_EQ(field(ledger(), "user"), QStringList{"max"});
}

// When this account's browser cannot start, the video never goes out
// through a page another account left open.
TEST_F(PublishSafetyTest, NoPageOfItsOwnMeansNoPublishNotAnotherAccountsLogin)
{
    startSimulator();
    addAccount("100", "ned", m_run.file("videos/n"));
    const QString folder = addAccount("101", "olga", m_run.file("videos/o"));
    makeClip(folder + "/o1.mp4");
    // Account 2's profile folder cannot be made: a file has its name.
    ASSERT_TRUE(QDir(BrowserSession::profileDirectory("101")).removeRecursively());
    ASSERT_TRUE(testsupport::writeAll(BrowserSession::profileDirectory("101"), "not a folder"));
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_账号序列", "2");
    m_form.setText("放弃秒", "1200"); // seconds of the scaled clock: a minute
    BrowserSession &session = m_job->session();
    session.initBrowserLibrary();
    ASSERT_GT(session.openUploadPage(0, "100"), 0); // account 1's page, open and current
    recordResults();
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(results, QList<bool>{false});
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(QFile::exists(folder + "/o1.mp4"));
}

// Selecting another row, clearing the list and reloading it in another
// order during a video change neither the account it goes out under nor the
// row that shows its outcome.
TEST_F(PublishSafetyTest, TheUsersClicksDuringAVideoNeverRedirectIt)
{
    startSimulator();
    addAccount("100", "pat", m_run.file("videos/p"));
    const QString folder = addAccount("101", "quinn", m_run.file("videos/q"));
    makeClip(folder + "/q1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_账号序列", "2");
    const QList<QStringList> rows = m_table.snapshot();
    QObject::connect(m_job.get(), &UploadJob::videoStarted, m_job.get(), [&](int, const QString &) {
        // As the account commands do: a row selected, the list cleared, then
        // read again with the accounts in another order.
        currentRow = 0;
        accountDocument().setValue("缓存id", "");
        m_table.clear();
        m_table.appendRow(QStringList{"1", QString(), rows[1][2], rows[1][3]});
        m_table.appendRow(QStringList{"2", QString(), rows[0][2], rows[0][3]});
    }, Qt::DirectConnection);
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(field(ledger(), "user"), QStringList{"quinn"});
    ASSERT_EQ(m_table.cell(0, AccountTable::AccountId), "101");
    EXPECT_EQ(m_table.cell(0, AccountTable::PublishedToday), "1");
    EXPECT_TRUE(m_table.cell(1, AccountTable::PublishedToday).isEmpty());
}

// Stop is final: a Start pressed while the stopped run still unwinds is not
// kept, and a browser that was coming up is not left behind.
TEST_F(PublishSafetyTest, AStoppedRunNeverStartsAgainByItself)
{
    startSimulator();
    const QString folder = addAccount("100", "rose", m_run.file("videos/r"));
    makeClip(folder + "/r1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    QueuedSpy started(m_job.get(), &UploadJob::videoStarted);
    pressStartStop();
    ASSERT_TRUE(started.wait(60000));
    pressStartStop(); // stop while the browser starts
    EXPECT_EQ(m_form.text("开始"), "开始");
    pressStartStop(); // and start again at once
    ASSERT_EVENTUALLY(!m_job->isRunning(), 30000);
    QTest::qWait(3000);
    EXPECT_FALSE(m_job->isRunning());
    EXPECT_EQ(m_form.text("开始"), "开始");
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(BrowserLibrary::instance().browserProcessIds().isEmpty());
}

// A used folder inside the material folder (subfolders read) never feeds
// its videos back.
TEST_F(PublishSafetyTest, UsedVideosInsideTheMaterialFolderNeverComeBack)
{
    startSimulator();
    const QString folder = addAccount("100", "sam", m_run.file("videos/s"));
    makeClip(folder + "/s1.mp4");
    m_form.setChecked("选择框_读取子文件夹", true);
    m_form.setChecked("单选框_移动", true);
    m_form.setText("编辑框_使用过视频目录", folder + "/used");
    QDir().mkpath(folder + "/used");
    m_form.setText("编辑框_单账号上传", "2");
    ASSERT_TRUE(runUntilDone());
    ASSERT_TRUE(runAgainUntilDone());
    EXPECT_EQ(ledger().size(), 1);
    EXPECT_TRUE(QFile::exists(folder + "/used/s1.mp4"));
    EXPECT_FALSE(QFile::exists(folder + "/used/s1 (2).mp4"));
}

// A file the studio refuses three times in a row goes to 失败视频 and the
// account goes on with its next video.
TEST_F(PublishSafetyTest, AFileTheStudioRefusesThreeTimesGoesAside)
{
    startSimulator();
    const QString folder = addAccount("100", "tess", m_run.file("videos/t"));
    QByteArray junk(20000, 'x');
    junk.replace(4, 4, "junk"); // no MP4 container: the studio refuses it
    ASSERT_TRUE(testsupport::writeAll(folder + "/a-damaged.mp4", junk));
    makeClip(folder + "/b-good.mp4");
    m_form.setText("编辑框_单账号上传", "4");
    m_form.setText("放弃秒", "1200"); // seconds of the scaled clock: a minute
    recordResults();
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone(240000));
    EXPECT_EQ(results, (QList<bool>{false, false, false, true}));
    EXPECT_EQ(field(ledger(), "file_name"), QStringList{"b-good.mp4"});
    EXPECT_TRUE(QFile::exists(m_run.file("失败视频/a-damaged.mp4")));
    EXPECT_FALSE(QFile::exists(folder + "/a-damaged.mp4"));
    EXPECT_EQ(log.linesWith({"a-damaged.mp4", "refused the file 3 times"}).size(), 1) << log.lines().join('\n').toStdString();
}

// One set of clips copied into the folders of several accounts: each
// account publishes its copy once; a copy that comes back into a folder
// whose account already published it is not uploaded again, and says so.
TEST_F(PublishSafetyTest, TheSameClipGoesOutOnceUnderEveryAccountAndNeverTwiceUnderOne)
{
    startSimulator();
    const QString a = addAccount("100", "uma", m_run.file("videos/u"));
    const QString b = addAccount("101", "vic", m_run.file("videos/v"));
    const QByteArray bytes = testsupport::readAll(makeClip(a + "/风景.mp4"));
    ASSERT_TRUE(testsupport::writeAll(b + "/风景.mp4", bytes));
    m_form.setText("编辑框_单账号上传", "1");
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(field(ledger(), "user"), (QStringList{"uma", "vic"}));
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(field(ledger(), "file_sha256"), (QStringList{sha, sha}));

    // A sync tool puts the first account's copy back.
    ASSERT_TRUE(testsupport::writeAll(a + "/风景.mp4", bytes));
    m_form.setText("编辑框_账号序列", "1");
    m_form.setText("编辑框_单账号上传", "1");
    ASSERT_TRUE(runAgainUntilDone());
    EXPECT_EQ(ledger().size(), 2);
    EXPECT_FALSE(QFile::exists(a + "/风景.mp4"));
    EXPECT_TRUE(m_table.cell(0, AccountTable::Status).startsWith("已于")) << m_table.cell(0, AccountTable::Status).toStdString();
    EXPECT_TRUE(m_table.cell(0, AccountTable::Status).endsWith("发布过"));
    const QString report = QString::fromUtf8(testsupport::readAll(runreport::reportPath(QDate::currentDate())));
    EXPECT_TRUE(report.contains(",already published,published on " + QDate::currentDate().toString("yyyy-MM-dd"))) << report.toStdString();
}

// A studio that closes its dialog at once and lands seconds later is given
// the video once: a confirmed press is never repeated.
TEST_F(PublishSafetyTest, ALandingFiveSecondsLateIsOnePublish)
{
    startSimulator({"--late-landing", "5000"});
    const QString folder = addAccount("100", "walt", m_run.file("videos/w"));
    makeClip(folder + "/late.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("放弃秒", "1200"); // seconds of the scaled clock: a minute
    recordResults();
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(results, QList<bool>{true});
    EXPECT_EQ(field(ledger(), "title"), QStringList{"late"});
}

// After a submit without a landing the content pages decide, by whole
// titles of the list once it has rendered, counted against what the
// journal already knows; when they cannot be read nothing is decided.
TEST_F(PublishSafetyTest, TheContentListDecidesByWholeTitlesAndNothingWhenUnread)
{
    startSimulator({"--list-delay", "1500"});
    const QString folder = addAccount("100", "xena", m_run.file("videos/x"));
    makeClip(folder + "/【每日】10.mp4");
    const QString landed = makeClip(folder + "/【每日】2.mp4");
    const QByteArray landedBytes = testsupport::readAll(landed);
    m_form.setText("编辑框_单账号上传", "2");
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 2);
    // 【每日】2 went out, yet the journal's last word is "submitting"; 【每日】1
    // never went out, and only 【每日】10 begins like it.
    ASSERT_TRUE(testsupport::writeAll(landed, landedBytes));
    const QString never = makeClip(folder + "/【每日】1.mp4");
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(identityOf(landed, "100", "【每日】2"), JournalState::Submitting));
        ASSERT_TRUE(journal.record(identityOf(never, "100", "【每日】1"), JournalState::Submitting));
    }
    ASSERT_TRUE(runAgainUntilDone());
    EXPECT_EQ(ledger().size(), 2);
    EXPECT_FALSE(QFile::exists(landed)); // in the studio: disposed of
    EXPECT_TRUE(QFile::exists(m_run.file("待确认视频/【每日】1.mp4")));
    PublishJournal after;
    EXPECT_EQ(after.stateOf(sha256Of(m_run.file("待确认视频/【每日】1.mp4")), QFileInfo(m_run.file("待确认视频/【每日】1.mp4")).size(), "100"), JournalState::Held);

    // A list that never renders: the video stays and is asked about again.
    const QString unread = makeClip(folder + "/【每日】3.mp4");
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(identityOf(unread, "100", "【每日】3"), JournalState::Submitting));
    }
    m_sim->setKnobs({{"list-delay", "600000"}});
    m_form.setText("编辑框_单账号上传", "1");
    ASSERT_TRUE(runAgainUntilDone(180000));
    EXPECT_TRUE(QFile::exists(unread));
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "无法确认是否已发布");
    EXPECT_EQ(ledger().size(), 2);
}

// A row whose id is empty (a file that does not parse) or no plain name
// never runs: it would mean another account's login or a folder outside
// the run directory.
TEST_F(PublishSafetyTest, ARowWithoutASafeIdIsNeverRun)
{
    startSimulator();
    addAccount("100", "yann", m_run.file("videos/y"));
    for (const QString &id : {QString(), QStringLiteral("../x")}) {
        const QString folder = m_run.file("videos/bad" + QString::number(m_table.rowCount()));
        QDir().mkpath(folder);
        makeClip(folder + "/bad.mp4");
        m_table.appendRow({QString::number(m_table.rowCount() + 1), QString(), folder, id, QString()});
    }
    m_form.setText("编辑框_单账号上传", "1");
    ASSERT_TRUE(runUntilDone());
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_EQ(m_table.cell(1, AccountTable::Status), "账号标识无效");
    EXPECT_EQ(m_table.cell(2, AccountTable::Status), "账号标识无效");
    EXPECT_FALSE(QFileInfo::exists(m_run.file("huancun/x")));
    const QString report = QString::fromUtf8(testsupport::readAll(runreport::reportPath(QDate::currentDate())));
    EXPECT_EQ(report.count(",skipped,"), 2) << report.toStdString();
}

// The user's login window of the very account the job comes to is never
// taken over: nothing goes out through it, and the window stays as it was.
TEST_F(PublishSafetyTest, TheLoginWindowOfTheJobsOwnAccountIsNeverItsPage)
{
    startSimulator();
    const QString folder = addAccount("100", "zoe", m_run.file("videos/z"));
    makeClip(folder + "/z1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("放弃秒", "400"); // seconds of the scaled clock
    BrowserSession &session = m_job->session();
    session.initBrowserLibrary();
    const int login = session.openUploadPage(0, "100", false);
    ASSERT_GT(login, 0);
    recordResults();
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(results, QList<bool>{false});
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_EQ(BrowserLibrary::instance().form_page_isactive(login), 1);
    EXPECT_NE(currentPageId.load(), login);
    BrowserLibrary::instance().form_close_browser(login);
}

// Login windows the user opens during a run have sessions of their own: what
// they find (the login page of a logged-out account, a proxy that is down)
// is never taken for the running account's. Its upload page is late, so its
// wait for the page spans both windows' openings.
TEST_F(PublishSafetyTest, LoginWindowsNeverSpeakForTheRunningAccount)
{
    startSimulator({"--page-delay", "7000"}); // the simulator's clock, not scaled; under the ten seconds the page gets
    const QString folder = addAccount("100", "una", m_run.file("videos/u"));
    makeClip(folder + "/u1.mp4");
    addAccount("101", QString(), m_run.file("videos/v")); // never logged in
    addAccount("102", QString(), m_run.file("videos/w"));
    AccountDocument doc;
    ASSERT_TRUE(doc.loadFile(accounts::accountFilePath("102")));
    doc.setValue("代理", "http://127.0.0.1:1"); // nothing listens there
    ASSERT_TRUE(doc.saveFile(accounts::accountFilePath("102")));
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("放弃秒", "2400"); // seconds of the scaled clock: two minutes
    recordResults();
    QueuedSpy started(m_job.get(), &UploadJob::videoStarted);
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    pressStartStop();
    ASSERT_TRUE(started.wait(60000));
    BrowserLibrary &library = BrowserLibrary::instance();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !library.form_connect_started().pageIds.isEmpty(); }, 60000));
    // As the window opens them: on a thread of its own while events go on.
    const auto openLoginWindow = [&](int row, const QString &id) {
        std::atomic<int> page{-1};
        std::thread window([&] { page = m_job->session().openLoginWindow(row, id); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return page >= 0; }, 60000));
        window.join();
        return page.load();
    };
    const int login = openLoginWindow(1, "101");
    EXPECT_GT(login, 0);
    library.form_close_browser(login);
    EXPECT_EQ(openLoginWindow(2, "102"), 0);
    ASSERT_TRUE(m_sim->setKnobs({{"page-delay", "0"}}));
    ASSERT_TRUE(done.wait(120000));
    EXPECT_EQ(results, (QList<bool>{true}));
    EXPECT_EQ(field(ledger(), "user"), QStringList{"una"});
    const QString status = m_table.cell(0, AccountTable::Status);
    EXPECT_NE(status, "未登录");
    EXPECT_NE(status, "代理不可用");
}

// A used clip moved back into the folder under another name (a sync tool's
// "风景1 (2).mp4") is the same video of the same account: it is never
// submitted again, and the row and the report say when it went out.
TEST_F(PublishSafetyTest, AUsedClipPutBackUnderAnotherNameNeverGoesOutAgain)
{
    startSimulator();
    const QString folder = addAccount("100", "pia", m_run.file("videos/p"));
    const QString clip = makeClip(folder + "/风景1.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_使用过视频目录", m_run.file("used"));
    QDir().mkpath(m_run.file("used"));
    m_form.setChecked("单选框_移动", true);
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 1);
    ASSERT_TRUE(QFile::rename(m_run.file("used/风景1.mp4"), folder + "/风景1 (2).mp4"));
    ASSERT_TRUE(runAgainUntilDone());
    EXPECT_EQ(ledger().size(), 1);
    EXPECT_TRUE(m_table.cell(0, AccountTable::Status).startsWith("已于")) << m_table.cell(0, AccountTable::Status).toStdString();
    EXPECT_FALSE(QFile::exists(folder + "/风景1 (2).mp4"));
    EXPECT_TRUE(testsupport::readAll(runreport::reportPath(QDate::currentDate())).contains("already published"));
}

// An account with no page of its own (its login window is open) ends its
// own round; its attempts never count towards the stop on repeated failures,
// and the next account publishes.
TEST_F(PublishSafetyTest, AnAccountWithoutAPageOfItsOwnNeverStopsTheRun)
{
    startSimulator();
    addAccount("100", "quin", m_run.file("videos/q"));
    makeClip(m_run.file("videos/q/q1.mp4"));
    const QString folder = addAccount("101", "rosa", m_run.file("videos/r"));
    makeClip(folder + "/r1.mp4");
    QByteArray ini = testsupport::readAll(m_run.file("data/services.ini"));
    ASSERT_TRUE(testsupport::writeAll(m_run.file("data/services.ini"), ini + "[lanes]\nsame_failure_stop=2\n"));
    m_form.setText("编辑框_单账号上传", "3");
    m_form.setText("放弃秒", "400"); // seconds of the scaled clock
    BrowserSession login(m_form, m_table, BrowserLibrary::instance());
    login.initBrowserLibrary();
    const int page = login.openUploadPage(0, "100", false);
    ASSERT_GT(page, 0);
    ASSERT_TRUE(runUntilDone());
    EXPECT_FALSE(m_job->stoppedOnRepeatedFailures());
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger().first().value("user").toString(), "rosa");
    BrowserLibrary::instance().form_close_browser(page);
}
