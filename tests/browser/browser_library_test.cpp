#include "browser/browser_library.h"
#include "browser/browser_version.h"
#include "browser/json_document.h"
#include "tests/browser/browser_test_env.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>

namespace {

// One browser for the operation tests: starting Chromium takes a second.
class BrowserOperations : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_server = new TestPageServer;
        s_library = new BrowserLibrary;
        ASSERT_EQ(s_library->form_global_init({}, [](int page, int browser, int event) {
            if (event == PageOpened) {
                s_reportedPage = page;
                s_reportedBrowser = browser;
            }
        }), 1);
        s_browser = s_library->form_browser_start(s_server->url("/main"), headlessOptions(*s_dir));
    }
    static void TearDownTestSuite()
    {
        delete s_library;
        delete s_server;
        delete s_dir;
    }
    void SetUp() override
    {
        ASSERT_GT(s_browser, 0);
        m_page = s_reportedPage.load();
        ASSERT_GT(m_page, 0);
        ASSERT_TRUE(lib().form_forward_url(m_page, s_server->url("/main")));
        ASSERT_TRUE(showing("/main", "#log"));
    }
    static BrowserLibrary &lib() { return *s_library; }
    // The page has reached the address and shows the element: the page
    // before it may hold an element of the same name.
    bool showing(const char *path, const char *selector)
    {
        return waitFor([&] { return lib().form_get_page_url(m_page) == s_server->url(path) && lib().form_dom_isexist(m_page, selector) == 1; });
    }
    QString log() { return lib().form_dom_gettext(m_page, "#log"); }
    template <typename F>
    static bool waitFor(F condition, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!condition()) {
            if (t.elapsed() > ms)
                return false;
            QThread::msleep(20);
        }
        return true;
    }

    int m_page = 0;
    static inline QTemporaryDir *s_dir = nullptr;
    static inline TestPageServer *s_server = nullptr;
    static inline BrowserLibrary *s_library = nullptr;
    static inline int s_browser = 0;
    static inline std::atomic<int> s_reportedPage{0};
    static inline std::atomic<int> s_reportedBrowser{0};
};

} // namespace

TEST_F(BrowserOperations, StartReportsPageThroughCallback)
{
    EXPECT_EQ(s_reportedBrowser.load(), s_browser);
    EXPECT_EQ(lib().form_page_isactive(m_page), 1);
    const StartedBrowsers started = lib().form_connect_started();
    EXPECT_TRUE(started.browserIds.contains(s_browser));
    EXPECT_TRUE(started.pageIds.contains(m_page));
    EXPECT_TRUE(lib().form_active_page(m_page));
    EXPECT_EQ(lib().form_page_isactive(9999), 0);
}

TEST_F(BrowserOperations, HtmlUrlTitleAndNavigation)
{
    EXPECT_TRUE(lib().form_get_html(m_page).contains(QStringLiteral("<p class=\"item\">一</p>")));
    EXPECT_EQ(lib().form_get_page_url(m_page), s_server->url("/main"));
    EXPECT_TRUE(lib().form_set_window_title(m_page, QStringLiteral("上传载入中=-1")));
    EXPECT_EQ(lib().evaluateScript(m_page, "document.title"), QStringLiteral("\"上传载入中=-1\""));
    ASSERT_TRUE(lib().form_forward_url(m_page, s_server->url("/second")));
    EXPECT_TRUE(waitFor([&] { return lib().form_dom_gettext(m_page, ".user-info__username") == QStringLiteral("测试用户"); }));
    EXPECT_EQ(lib().form_get_page_url(m_page), s_server->url("/second"));
}

TEST_F(BrowserOperations, ElementIndexZeroAndOneBothFirstThenNth)
{
    EXPECT_EQ(lib().form_dom_gettext(m_page, ".item", 0), QStringLiteral("一"));
    EXPECT_EQ(lib().form_dom_gettext(m_page, ".item", 1), QStringLiteral("一"));
    EXPECT_EQ(lib().form_dom_gettext(m_page, ".item", 2), QStringLiteral("two"));
    EXPECT_EQ(lib().form_dom_gettext(m_page, ".item", 3), QStringLiteral("three"));
    EXPECT_EQ(lib().form_dom_gettext(m_page, ".item", 4), QString());
    EXPECT_EQ(lib().form_dom_gettext(m_page, ".item", -1), QString());
    EXPECT_EQ(lib().form_dom_isexist(m_page, ".item"), 1);
    EXPECT_EQ(lib().form_dom_isexist(m_page, ".nothing"), 0);
    EXPECT_EQ(lib().form_dom_isexist(m_page, "[[bad selector"), 0);
    EXPECT_EQ(lib().form_dom_gettext(m_page, "'\"]);throw 1;//"), QString());
}

TEST_F(BrowserOperations, ClicksAreTrustedAndHitTheNthMatchOffScreen)
{
    EXPECT_TRUE(lib().form_dom_click(m_page, ".b", 0));
    EXPECT_TRUE(lib().form_dom_click(m_page, ".b", 1));
    EXPECT_TRUE(lib().form_dom_click(m_page, ".b", 3));
    EXPECT_FALSE(lib().form_dom_click(m_page, ".b", 4));
    EXPECT_EQ(log(), QStringLiteral("b1:true;b1:true;b3:true;"));
}

TEST_F(BrowserOperations, ClicksWaitUntilAPersonCouldClickAndLandOnTheElement)
{
    ASSERT_TRUE(lib().form_forward_url(m_page, s_server->url("/actionable")));
    ASSERT_TRUE(showing("/actionable", "#mask1"));
    // Under the mask for another half second, hidden for a while, sliding:
    // each click waits for its element. The page's log tells what happened:
    // a click on the mask, one beside its element, or one on an element
    // still sliding would each show there.
    EXPECT_TRUE(lib().form_dom_click(m_page, "#covered"));
    ASSERT_EQ(lib().evaluateScript(m_page, "hideFor('shown',400)"), "1");
    EXPECT_TRUE(lib().form_dom_click(m_page, "#shown"));
    ASSERT_EQ(lib().evaluateScript(m_page, "startMoving()"), "1");
    EXPECT_TRUE(lib().form_dom_click(m_page, "#moving"));
    // In a rotated box on the link's first line, scrolled away in its box,
    // far below the view.
    for (const char *id : {"#wrapped", "#inner", "#far"})
        EXPECT_TRUE(lib().form_dom_click(m_page, id)) << id;
    EXPECT_EQ(log(), QStringLiteral("covered:true:true;shown:true:true;moving:true:true;wrapped:true:true;inner:true:true;far:true:true;"));
}

// Only the element's own box counts as moving: a glow or a pulse that never
// ends leaves it where it is, a slide does not.
TEST_F(BrowserOperations, AnEndlessPulseAroundAButtonDoesNotHoldItsClickButASlideInsideItDoes)
{
    ASSERT_TRUE(lib().form_forward_url(m_page, s_server->url("/actionable")));
    ASSERT_TRUE(showing("/actionable", "#publish"));
    ASSERT_TRUE(waitFor([&] { return lib().form_dom_isexist(m_page, "#mask1") == 0; }));
    ASSERT_EQ(lib().evaluateScript(m_page, "document.getAnimations().filter(a=>a.playState==='running').length"), "2");
    EXPECT_TRUE(lib().form_dom_click(m_page, "#publish"));
    ASSERT_EQ(lib().evaluateScript(m_page, "startGliding()"), "1");
    EXPECT_TRUE(lib().form_dom_click(m_page, "#glider"));
    EXPECT_EQ(log(), QStringLiteral("publish:true:true;glider:true:true;"));
}

TEST_F(BrowserOperations, AnElementCoveredForGoodIsNotClickedAndNothingElseIs)
{
    ASSERT_TRUE(lib().form_forward_url(m_page, s_server->url("/actionable")));
    ASSERT_TRUE(showing("/actionable", "#blocked"));
    ASSERT_TRUE(waitFor([&] { return lib().form_dom_isexist(m_page, "#mask1") == 0; }));
    ASSERT_EQ(lib().evaluateScript(m_page, "coverForGood(),1"), "1");
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(lib().form_dom_click(m_page, "#blocked"));
    EXPECT_GE(t.elapsed(), 1900); // it waited its two seconds
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_EQ(log(), QString()); // neither the element nor the mask got a click
    // A selector with no match gives up at once: the caller's loop polls.
    t.restart();
    EXPECT_FALSE(lib().form_dom_click(m_page, "#nothing-here"));
    EXPECT_LT(t.elapsed(), 500);
}

TEST_F(BrowserOperations, ALoneSurrogateInAReplyReadsAsAReplacementCharacter)
{
    // A title cut in the middle of an emoji: the browser's answer holds \ud83d alone.
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(lib().evaluateScript(m_page, "document.title='a\\uD83Db',document.title"), QStringLiteral("\"a\uFFFDb\""));
    EXPECT_LT(t.elapsed(), 2000); // answered, not timed out
    EXPECT_EQ(lib().evaluateScript(m_page, "'\\uD83D\\uDE00'"), QStringLiteral("\"\U0001F600\"")); // a whole pair stays
}

TEST_F(BrowserOperations, SetValueFiresInputAndChangeThenInputTypes)
{
    EXPECT_TRUE(lib().form_dom_setvalue(m_page, "#name", QStringLiteral("新值")));
    EXPECT_EQ(log(), QStringLiteral("input:新值;change:新值;"));
    EXPECT_TRUE(lib().form_dom_setvalue(m_page, "#typed", QString()));
    EXPECT_TRUE(lib().form_dom_input(m_page, "#typed", QStringLiteral("【原创】旅行")));
    EXPECT_TRUE(lib().form_dom_input(m_page, "#typed", QStringLiteral("!")));
    EXPECT_EQ(lib().form_dom_gettext(m_page, "#typed"), QStringLiteral("【原创】旅行!"));
    EXPECT_FALSE(lib().form_dom_input(m_page, "#missing", QStringLiteral("x")));
    EXPECT_FALSE(lib().form_dom_setvalue(m_page, "#missing", QStringLiteral("x")));
}

TEST_F(BrowserOperations, UploadGoesToTheSecondFileInput)
{
    const QString path = s_dir->filePath(QStringLiteral("封面.jpg"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(1234, 'x'));
    file.close();
    EXPECT_TRUE(lib().form_upload_file(m_page, 2, path));
    EXPECT_TRUE(waitFor([&] { return !log().isEmpty(); }));
    EXPECT_EQ(log(), QStringLiteral("cover:封面.jpg:1234;"));
    EXPECT_FALSE(lib().form_upload_file(m_page, 3, path));
    EXPECT_FALSE(lib().form_upload_file(m_page, 1, s_dir->filePath(QStringLiteral("missing.mp4"))));
}

TEST_F(BrowserOperations, DialogsAnswerThemselvesAfterOverwrite)
{
    lib().setCallTimeoutMs(1500);
    EXPECT_TRUE(lib().form_js_dialog_overwrite(m_page));
    EXPECT_TRUE(lib().form_dom_click(m_page, "#ask"));
    lib().setCallTimeoutMs(10000);
    EXPECT_TRUE(waitFor([&] { return log() == QStringLiteral("confirm:true;"); }));
}

TEST_F(BrowserOperations, VersionJsonAndVersionInfo)
{
    JsonDocument doc;
    ASSERT_TRUE(doc.parseText(lib().form_get_version(m_page).toUtf8()));
    for (const char *key : {"Browser", "Protocol-Version", "User-Agent", "V8-Version", "WebKit-Version"})
        EXPECT_FALSE(doc.getText(QLatin1String(key)).isEmpty()) << key;
    EXPECT_TRUE(doc.exists("webSocketDebuggerUrl"));
    BrowserVersionInfo info;
    EXPECT_FALSE(readBrowserVersion(lib(), m_page, info).isEmpty());
    EXPECT_TRUE(info.browser.contains(QStringLiteral("Chrome/")));
    EXPECT_TRUE(info.webkitVersion.startsWith(QStringLiteral("537.36")));
    BrowserVersionInfo none;
    EXPECT_TRUE(readBrowserVersion(lib(), 9999, none).isEmpty());
    EXPECT_EQ(browserVersionLabelText(none, QStringLiteral("3.0")),
              QStringLiteral("浏览器版本：\r\nV8引擎版本：\r\nUA：\r\n协议版本：\r\nwebkit版本：\r\n软件版本：3.0"));
}

TEST_F(BrowserOperations, WorksFromPlainWorkerThreads)
{
    std::vector<std::future<QString>> reads;
    for (int i = 1; i <= 3; ++i)
        reads.push_back(std::async(std::launch::async, [this, i] { return lib().form_dom_gettext(m_page, ".item", i); }));
    EXPECT_EQ(reads[0].get(), QStringLiteral("一"));
    EXPECT_EQ(reads[1].get(), QStringLiteral("two"));
    EXPECT_EQ(reads[2].get(), QStringLiteral("three"));
}

TEST_F(BrowserOperations, SameProfileOpensAPageInTheRunningBrowser)
{
    const int again = lib().form_browser_start(s_server->url("/second"), headlessOptions(*s_dir));
    EXPECT_EQ(again, s_browser);
    const int second = s_reportedPage.load();
    EXPECT_NE(second, m_page);
    EXPECT_TRUE(waitFor([&] { return lib().form_dom_isexist(second, ".user-info__username") == 1; }));
    EXPECT_EQ(lib().browserProcessIds().size(), 1);
    s_reportedPage = m_page;
}
