#include "browser/browser_library.h"
#include "browser/cdp_connection.h"
#include "tests/support/test_main.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class CdpConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_cdp.setEventHandler([this](std::string_view method, const rapidjson::Value &params, const std::string &session) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::string(method) + "@" + session);
            if (method == "Custom.big")
                m_bigSize = params["text"].GetStringLength();
        });
        m_cdp.setCloseHandler([this] { ++m_closes; });
        ASSERT_TRUE(m_cdp.open(QStringLiteral(TOLVAR_FAKE_CDP_PEER), {}));
    }

    CdpConnection m_cdp;
    std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::size_t m_bigSize = 0;
    std::atomic<int> m_closes{0};
};

} // namespace

TEST_F(CdpConnectionTest, AnswersMatchTheirCallsAcrossThreadsAndSessions)
{
    std::vector<std::future<CdpReply>> replies;
    for (int i = 0; i < 20; ++i) {
        replies.push_back(std::async(std::launch::async, [this, i] {
            return m_cdp.call("Echo", "{\"n\":" + std::to_string(i) + "}", i % 2 ? "S1" : "");
        }));
    }
    for (int i = 0; i < 20; ++i) {
        const CdpReply reply = replies[i].get();
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.result()["echo"]["n"].GetInt(), i);
        EXPECT_STREQ(reply.result()["session"].GetString(), i % 2 ? "S1" : "");
    }
    const CdpReply failed = m_cdp.call("Fail");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, "no such thing");
}

TEST_F(CdpConnectionTest, CallsSentTogetherAreAllOutBeforeAnyAnswerAndComeBackInTheirOrder)
{
    // Hold is answered only once Release has arrived: one call at a time
    // would wait out the time-out on it.
    QElapsedTimer timer;
    timer.start();
    const std::vector<CdpReply> replies = m_cdp.callAll({{"Hold", {}}, {"Release", {}}, {"Echo", R"({"n":3})"}}, "S1", 2000);
    EXPECT_LT(timer.elapsed(), 1500);
    ASSERT_EQ(replies.size(), 3u);
    for (const CdpReply &reply : replies)
        ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_TRUE(replies[0].result()["held"].GetBool());
    EXPECT_TRUE(replies[1].result()["released"].GetBool());
    EXPECT_EQ(replies[2].result()["echo"]["n"].GetInt(), 3);
    EXPECT_STREQ(replies[2].result()["session"].GetString(), "S1");

    // One time-out for the lot: a call that never answers fails alone.
    timer.restart();
    const std::vector<CdpReply> mixed = m_cdp.callAll({{"Echo", {}}, {"Hang", {}}, {"Fail", {}}}, {}, 300);
    EXPECT_LT(timer.elapsed(), 1500);
    ASSERT_EQ(mixed.size(), 3u);
    EXPECT_TRUE(mixed[0].ok);
    EXPECT_EQ(mixed[1].error, "timeout");
    EXPECT_EQ(mixed[2].error, "no such thing");
}

TEST_F(CdpConnectionTest, MessagesSplitOverManyReadsArriveWhole)
{
    const CdpReply reply = m_cdp.call("Burst");
    ASSERT_TRUE(reply.ok) << reply.error;
    std::lock_guard lock(m_mutex);
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0], "Custom.big@S2"); // delivered before the answer that followed it
    EXPECT_EQ(m_bigSize, 300000u);
}

TEST_F(CdpConnectionTest, EachCallHasItsOwnTimeout)
{
    QElapsedTimer timer;
    timer.start();
    const CdpReply reply = m_cdp.call("Hang", {}, {}, 300);
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "timeout");
    EXPECT_GE(timer.elapsed(), 290);
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_TRUE(m_cdp.call("Echo").ok); // the connection goes on
}

TEST_F(CdpConnectionTest, DetachedSessionFailsOnlyItsOwnPendingCalls)
{
    auto inSession = std::async(std::launch::async, [this] { return m_cdp.call("Hang", {}, "S1", 10000); });
    auto elsewhere = std::async(std::launch::async, [this] { return m_cdp.call("Hang", {}, "S2", 700); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(m_cdp.call("Detach").ok);
    const CdpReply detached = inSession.get();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(detached.error, "detached");
    EXPECT_EQ(elsewhere.get().error, "timeout");
}

TEST_F(CdpConnectionTest, PeerExitFailsEveryPendingCallAtOnceWithOneCloseNotice)
{
    std::vector<std::future<CdpReply>> hanging;
    for (int i = 0; i < 5; ++i)
        hanging.push_back(std::async(std::launch::async, [this] { return m_cdp.call("Hang", {}, {}, 10000); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QElapsedTimer timer;
    timer.start();
    m_cdp.post("Exit");
    for (auto &f : hanging)
        EXPECT_EQ(f.get().error, "closed");
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(m_cdp.isOpen());
    EXPECT_EQ(m_cdp.call("Echo").error, "closed");
    const std::vector<CdpReply> after = m_cdp.callAll({{"Echo", {}}, {"Echo", {}}});
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].error, "closed");
    EXPECT_EQ(after[1].error, "closed");
    m_cdp.close(0);
    EXPECT_EQ(m_closes.load(), 1);
}

TEST_F(CdpConnectionTest, AWriteToABrowserThatStoppedReadingGivesUpAtItsTimeout)
{
    ASSERT_TRUE(m_cdp.call("Stall").ok);
    // Far more than the pipe holds: the write can only finish if the peer reads.
    const std::string big = "{\"text\":\"" + std::string(8 * 1024 * 1024, 'x') + "\"}";
    QElapsedTimer timer;
    timer.start();
    const CdpReply reply = m_cdp.call("Echo", big, {}, 500);
    EXPECT_FALSE(reply.ok);
    EXPECT_LT(timer.elapsed(), 3000);
    // The cut message poisons the stream: later calls fail at once.
    timer.restart();
    EXPECT_FALSE(m_cdp.call("Echo", {}, {}, 5000).ok);
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST_F(CdpConnectionTest, AFailedCallLogsItsMethodAndTheProtocolsReason)
{
    testsupport::LogCapture log;
    EXPECT_FALSE(m_cdp.call("Fail").ok);
    EXPECT_FALSE(m_cdp.call("Hang", {}, {}, 200).ok);
    EXPECT_EQ(log.linesWith({"tolvar.browser", "DevTools call Fail failed: no such thing"}).size(), 1) << log.lines().join('\n').toStdString();
    EXPECT_EQ(log.linesWith({"tolvar.browser", "DevTools call Hang failed: timeout after 200 ms"}).size(), 1);
    EXPECT_TRUE(m_cdp.call("Echo").ok);
    EXPECT_EQ(log.linesWith({"DevTools call"}).size(), 2); // a call that worked says nothing
}

TEST(BrowserStart, ABrowserThatWillNotStartLeavesItsPathArgumentsAndFirstErrorLines)
{
    testsupport::TempRunDir run;
    BrowserLibrary library;
    ASSERT_EQ(library.form_global_init(QStringLiteral(TOLVAR_FAKE_CDP_PEER), {}), 1);
    BrowserStartOptions options;
    options.profileDirectory = run.file("huancun/tolvar100");
    options.extraArgs = {QStringLiteral("--complain")};
    testsupport::LogCapture log;
    EXPECT_EQ(library.form_browser_start(QStringLiteral("http://127.0.0.1:9/upload"), options), 0);
    const QStringList lines = log.linesWith({"tolvar.browser", "fake_cdp_peer", "--complain", "Missing X server or $DISPLAY"});
    ASSERT_EQ(lines.size(), 1) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains("The platform failed to initialize")); // the lines after the first too
    EXPECT_TRUE(lines[0].contains("it ended")) << lines[0].toStdString();
}

// The window's thread and an upload job may close or reap one browser at the
// same moment, while it is ending by itself: it is closed once, every caller
// comes back, and its page is reported closed once.
TEST(BrowserClose, ThreadsClosingAndReapingOneBrowserAtOnceCloseItOnce)
{
    testsupport::TempRunDir run;
    BrowserLibrary library;
    std::atomic<int> opened{0};
    std::atomic<int> closedReports{0};
    ASSERT_EQ(library.form_global_init(QStringLiteral(TOLVAR_FAKE_CDP_PEER), [&](int page, int, int event) {
        if (event == PageOpened)
            opened = page;
        else
            ++closedReports;
    }), 1);
    BrowserStartOptions options;
    options.profileDirectory = run.file("huancun/tolvar100");
    ASSERT_GT(library.form_browser_start(QStringLiteral("http://127.0.0.1:9/upload"), options), 0);
    const int page = opened;
    ASSERT_GT(page, 0);
    ASSERT_EQ(library.browserProcessIds().size(), 1);

    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            if (i % 2 == 0) {
                library.form_close_browser(page);
                return;
            }
            // The browser ends 0.3 s after it is asked to close: these find it dead.
            for (int round = 0; round < 30; ++round) {
                library.form_connect_started();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    go = true;
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(closedReports.load(), 1);
    EXPECT_EQ(library.form_page_isactive(page), 0);
    EXPECT_TRUE(library.browserProcessIds().isEmpty());
    EXPECT_TRUE(library.form_connect_started().pageIds.isEmpty());
    EXPECT_FALSE(library.form_close_browser(page)); // already closed: nothing left to do
}
