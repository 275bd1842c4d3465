#include "accounts/account_table.h"
#include "upload/browser_session.h"
#include "upload/delay_wait.h"
#include "upload/elapsed_ticker.h"
#include "upload/upload_job.h"
#include "upload/job_state.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(DelayWait, UnitCodesAndTheUiThreadStaysLive)
{
    // On the user-interface thread the wait runs the event loop: a timer due
    // in the middle of it fires while it waits.
    bool fired = false;
    QTimer::singleShot(50, [&] { fired = true; });
    QElapsedTimer t;
    t.start();
    DelayWait(2, 250); // 2 x 250 ms
    EXPECT_TRUE(fired);
    EXPECT_GE(t.elapsed(), 490);
    t.restart();
    DelayWait(300);
    EXPECT_GE(t.elapsed(), 290);
    t.restart();
    DelayWait(0, 1);
    DelayWait(-5, 3);
    EXPECT_LT(t.elapsed(), 200);
}

TEST(DelayWait, AJobThreadUnwindsAtOnceWhenStopped)
{
    StopToken token;
    std::atomic<bool> unwound{false};
    QElapsedTimer t;
    t.start();
    std::thread job([&] {
        StopScope scope(token);
        try {
            DelayWait(2, 2); // two minutes
        } catch (const JobStopped &) {
            unwound = true;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    token.requestStop();
    job.join();
    EXPECT_TRUE(unwound);
    EXPECT_LT(t.elapsed(), 5000);
    // Without a token bound, a worker simply sleeps and nothing throws.
    std::thread plain([] { EXPECT_TRUE(DelayWait(10)); });
    plain.join();
}

TEST(TimeLimit, TheLimitIsInclusiveAndZeroMeansNone)
{
    giveUpSeconds = 300;
    elapsedSeconds = 300;
    EXPECT_TRUE(checkGiveUp());
    elapsedSeconds = 301;
    EXPECT_FALSE(checkGiveUp());
    EXPECT_EQ(elapsedSeconds.load(), 0);
    giveUpSeconds = 0;
    elapsedSeconds = 100000;
    EXPECT_TRUE(checkGiveUp());
}

TEST(TimeLimit, TheTickerCountsIntoTheRowAndStopsWhenTheLimitFires)
{
    testsupport::TempRunDir run;
    AccountTable table;
    table.appendRow({"1"});
    currentRow = 0;
    elapsedSeconds = 0;
    giveUpSeconds = 300;
    auto ticker = ElapsedTicker::start(table, 0);
    EXPECT_EQ(ElapsedTicker::find(ticker->id()), ticker);
    for (int i = 0; i < 100 && table.cell(0, AccountTable::Status).isEmpty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(table.cell(0, AccountTable::Status), QStringLiteral("耗时：1/300"));
    ticker->stop();
    ticker->stop(); // a second stop is harmless
    const QString last = table.cell(0, AccountTable::Status);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(table.cell(0, AccountTable::Status), last);
}

// Stop (or a run that stops itself) halts every ticker while lanes end
// theirs: a halt that ends up holding the last reference to a ticker must
// still let it go. This once hung a run for good.
TEST(TimeLimit, HaltingAllTickersWhileLanesEndTheirsNeverHangs)
{
    testsupport::TempRunDir run;
    AccountTable table;
    table.appendRow({"1"});
    std::atomic<bool> done{false};
    std::thread halter([&] {
        while (!done)
            ElapsedTicker::haltAll();
    });
    for (int i = 0; i < 3000; ++i)
        ElapsedTicker::start(table, 0).reset();
    done = true;
    halter.join();
    EXPECT_EQ(ElapsedTicker::liveCount(), 0);
}

TEST(BrowserSessionText, ProfileFolderAndWindowSize)
{
    testsupport::TempRunDir run;
    EXPECT_EQ(BrowserSession::profileDirectory(""), BrowserSession::profileDirectory("100"));
    EXPECT_EQ(BrowserSession::profileDirectory("101"), run.file("huancun/tolvar101"));
    EXPECT_EQ(BrowserSession::windowSizeText({1920, 1080}), "960,864");
    EXPECT_EQ(BrowserSession::windowSizeText({1366, 768}), "683,614.4");
}

TEST(UploadJobText, IntegerValuesOfTexts)
{
    EXPECT_EQ(UploadJob::leadingInt("120"), 120);
    EXPECT_EQ(UploadJob::leadingInt(" 12abc"), 12);
    EXPECT_EQ(UploadJob::leadingInt("abc"), 0);
    EXPECT_EQ(UploadJob::leadingInt(""), 0);
    EXPECT_EQ(UploadJob::leadingInt("-3"), -3);
    EXPECT_EQ(UploadJob::leadingInt("99999999999999"), std::numeric_limits<int>::max());
}
