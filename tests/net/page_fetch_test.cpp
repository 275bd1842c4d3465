#include "net/page_fetch.h"

#include "base/gbk.h"
#include "tests/net/raw_server.h"
#include "tests/net/test_servers.h"
#include "tests/support/test_main.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace net;
using namespace nettest;

namespace {

using Capture = CaptureServer;

const QByteArray kUserAgent = "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
const QByteArray kAccept = "Accept: text/html, application/xhtml+xml, */*";
const QByteArray kEncoding = "Accept-Encoding: gbk, GB2312";
const QByteArray kLanguage = "Accept-Language: zh-cn";
const QByteArray kCache = "Cache-Control: no-cache";

QString fetch(const QString &url, PageFetchOptions &o)
{
    return fetchPageText(url, o);
}

// A server that answers one request with `answer` and then does `after`.
RawServer answerOnce(QByteArray answer, std::function<void(RawConnection &)> after = {})
{
    return RawServer([answer, after](RawConnection &c) {
        if (!c.readRequest())
            return;
        c.write(answer);
        if (after)
            after(c);
    });
}

} // namespace

TEST(PageFetch, GetWithDefaultsSendsItsOwnHeadersInOrder)
{
    Capture c;
    PageFetchOptions o;
    EXPECT_EQ(fetch(c.server.url(QStringLiteral("/p?q=1")), o), QStringLiteral("ok"));
    EXPECT_EQ(o.statusText, QStringLiteral("200 OK"));
    EXPECT_EQ(c.head(), "GET /p?q=1 HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), kUserAgent, kAccept, kEncoding, kLanguage, kCache}));
}

TEST(PageFetch, HostWithoutPathRequestsTheRoot)
{
    Capture c;
    PageFetchOptions o;
    fetch(QStringLiteral("http://127.0.0.1:%1").arg(c.server.port()), o);
    EXPECT_TRUE(c.head().startsWith("GET / HTTP/1.1\r\n"));
}

TEST(PageFetch, PostAddsTheFormTypeBeforeCacheControl)
{
    Capture c;
    PageFetchOptions o;
    o.method = 1;
    o.body = QStringLiteral("msg=中文");
    fetch(c.server.url(QStringLiteral("/post")), o);
    EXPECT_EQ(c.head(), "POST /post HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), kUserAgent, kAccept, kEncoding, kLanguage,
                             "Content-Type: application/x-www-form-urlencoded", kCache, "Content-Length: 8"}));
}

TEST(PageFetch, BodyIsSentAsGbkAndBinaryBodyWins)
{
    QByteArray received;
    RawServer s(answerEach([&received](RawConnection &c) {
        received = c.body();
        return response("HTTP/1.1 200 OK", "", "");
    }));
    PageFetchOptions text;
    text.method = 1;
    text.body = QStringLiteral("中文");
    fetch(s.url(), text);
    EXPECT_EQ(received, gbk::encode(u"中文"));
    PageFetchOptions binary;
    binary.method = 1;
    binary.body = QStringLiteral("x");
    binary.binaryBody = QByteArray("\x00\x01\x02", 3);
    fetch(s.url(), binary);
    EXPECT_EQ(received, QByteArray("\x00\x01\x02", 3));
}

TEST(PageFetch, LowerCaseCallerUserAgentSuppressesTheDefault)
{
    Capture c;
    PageFetchOptions o;
    o.headers = QStringLiteral("user-agent: mine");
    fetch(c.server.url(), o);
    EXPECT_EQ(c.head(), "GET / HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), "User-Agent: mine", kAccept, kEncoding, kLanguage, kCache}));
}

TEST(PageFetch, KeepAliveIsRemovedWhenALineFollowsIt)
{
    Capture c;
    PageFetchOptions o;
    o.headers = QStringLiteral("Connection: keep-alive");
    fetch(c.server.url(), o);
    EXPECT_EQ(c.head(0), "GET / HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), kUserAgent, kAccept, kEncoding, kLanguage, kCache}));

    PageFetchOptions last;
    last.completeHeaders = false;
    last.headers = QStringLiteral("X-A: 1\r\nConnection: keep-alive");
    fetch(c.server.url(), last);
    EXPECT_EQ(c.head(1), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "X-A: 1", "Connection: keep-alive"}));
}

TEST(PageFetch, CookiesGoLastAndCallerCookieHeaderWins)
{
    Capture c;
    PageFetchOptions o;
    o.completeHeaders = false;
    o.cookies = QStringLiteral("a=1; b=2");
    o.headers = QStringLiteral("X-A: 1");
    fetch(c.server.url(), o);
    EXPECT_EQ(c.head(0), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "X-A: 1", "Cookie: a=1; b=2"}));

    PageFetchOptions wins;
    wins.completeHeaders = false;
    wins.cookies = QStringLiteral("a=1");
    wins.headers = QStringLiteral("cookie: z=9");
    fetch(c.server.url(), wins);
    EXPECT_EQ(c.head(1), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Cookie: z=9"}));

    PageFetchOptions word;
    word.completeHeaders = false;
    word.cookies = QStringLiteral("Cookie: a=1");
    fetch(c.server.url(), word);
    EXPECT_EQ(c.head(2), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Cookie: a=1"}));
}

TEST(PageFetch, CookieMergeDropsDeletedAndPutsNewFirst)
{
    Capture c(response("HTTP/1.1 200 OK",
                       "Set-Cookie: b=3; path=/\r\nSet-Cookie: a=deleted; path=/\r\nSet-Cookie: plain=1\r\n"
                       "Set-Cookie: c=5; HttpOnly\r\n",
                       "ok"));
    PageFetchOptions o;
    o.cookies = QStringLiteral("a=1; b=2; k=7");
    fetch(c.server.url(), o);
    EXPECT_EQ(o.newCookies, QStringLiteral("b=3; c=5; k=7"));
    EXPECT_EQ(o.cookies, QStringLiteral("b=3; c=5; k=7"));

    PageFetchOptions off;
    off.mergeCookies = false;
    off.cookies = QStringLiteral("a=1");
    fetch(c.server.url(), off);
    EXPECT_EQ(off.newCookies, QStringLiteral("b=3; a=deleted; c=5")); // a line without ';' is not collected
    EXPECT_EQ(off.cookies, QStringLiteral("a=1"));
}

TEST(PageFetch, ResponseHeadersIncludeTheStatusLine)
{
    Capture c(response("HTTP/1.1 404 Not Found", "X-B: 2\r\n", "missing"));
    PageFetchOptions o;
    EXPECT_EQ(fetch(c.server.url(), o), QStringLiteral("missing"));
    EXPECT_EQ(o.statusText, QStringLiteral("404 Not Found"));
    EXPECT_EQ(o.responseHeaders, QStringLiteral("HTTP/1.1 404 Not Found\r\nX-B: 2\r\nContent-Length: 7\r\n\r\n"));
    EXPECT_EQ(o.responseBytes, "missing");
}

TEST(PageFetch, RedirectWithAndWithoutNoRedirect)
{
    HttpTestServer s([](httplib::Server &svr) {
        svr.Get("/from", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/to", 302); });
        svr.Get("/to", [](const httplib::Request &, httplib::Response &res) { res.set_content("arrived", "text/plain"); });
    });
    PageFetchOptions stay;
    stay.noRedirect = true;
    EXPECT_EQ(fetch(s.url(QStringLiteral("/from")), stay), QString());
    EXPECT_EQ(stay.statusText, QStringLiteral("302 Found"));
    EXPECT_EQ(stay.location, QStringLiteral("/to"));

    PageFetchOptions follow;
    EXPECT_EQ(fetch(s.url(QStringLiteral("/from")), follow), QStringLiteral("arrived"));
    EXPECT_EQ(follow.statusText, QStringLiteral("200 OK"));
    EXPECT_EQ(follow.location, QString());
}

TEST(PageFetch, PageIsDecodedFromItsDeclaredCharset)
{
    const QString words = QStringLiteral("中文页面");
    const QByteArray utf8 = "<html><head><meta charset=\"utf-8\"></head><body>" + words.toUtf8() + "</body></html>";
    const QByteArray gbkDeclared = "<HTML><META CONTENT=\"text/html; CHARSET=GBK\"><body>" + gbk::encode(words) + "</body>";
    const QByteArray gb2312 = "<meta charset=gb2312><p>" + gbk::encode(words) + "</p>";
    // Characters GBK has and GB2312 lacks, under a declaration in capitals.
    const QString wider = QStringLiteral("繁體字");
    const QByteArray upperGb2312 = "<META CHARSET=GB2312><p>" + gbk::encode(wider) + "</p>";
    const QByteArray none = "<p>" + gbk::encode(words) + "</p>";
    const QByteArray late = QByteArray(1100, ' ') + "<meta charset=\"utf-8\">" + words.toUtf8();
    HttpTestServer s([&](httplib::Server &svr) {
        for (const auto &[path, page] : {std::pair{"/utf8", utf8}, {"/gbk", gbkDeclared}, {"/gb2312", gb2312}, {"/GB2312", upperGb2312}, {"/none", none}, {"/late", late}}) {
            svr.Get(path, [page](const httplib::Request &, httplib::Response &res) {
                res.set_content(page.constData(), size_t(page.size()), "text/html");
            });
        }
    });
    PageFetchOptions o;
    EXPECT_TRUE(fetch(s.url(QStringLiteral("/utf8")), o).contains(words));
    EXPECT_EQ(o.responseBytes, utf8);
    EXPECT_TRUE(fetch(s.url(QStringLiteral("/gbk")), o).contains(words));
    EXPECT_TRUE(fetch(s.url(QStringLiteral("/gb2312")), o).contains(words));
    EXPECT_EQ(fetch(s.url(QStringLiteral("/GB2312")), o), gbk::decode(upperGb2312));
    EXPECT_TRUE(gbk::decode(upperGb2312).contains(wider));
    EXPECT_TRUE(fetch(s.url(QStringLiteral("/none")), o).contains(words));
    // A declaration past the first 1024 bytes does not count: the page is taken as GBK.
    EXPECT_EQ(fetch(s.url(QStringLiteral("/late")), o), gbk::decode(late));
}

TEST(PageFetch, BadUrlIs701)
{
    for (const QString &url : {QStringLiteral("not a url"), QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("http://")}) {
        PageFetchOptions o;
        o.location = QStringLiteral("kept");
        EXPECT_EQ(fetch(url, o), QString());
        EXPECT_EQ(o.statusText, pagefetch::kBadUrl) << url.toStdString();
        EXPECT_EQ(o.location, QStringLiteral("kept"));
    }
}

// Making the connection is part of sending the request.
TEST(PageFetch, RefusedConnectionIs711)
{
    PageFetchOptions o;
    testsupport::LogCapture log;
    const int port = closedPort();
    EXPECT_EQ(fetch(QStringLiteral("http://127.0.0.1:%1/path?secret=1").arg(port), o), QString());
    EXPECT_EQ(o.statusText, pagefetch::kSendFailed);
    // The log keeps the stage and libcurl's code; the query stays out of it.
    const QStringList lines = log.linesWith({"tolvar.net", QStringLiteral("GET http://127.0.0.1:%1/path failed at the connect step: curl 7").arg(port)});
    EXPECT_EQ(lines.size(), 1) << log.lines().join('\n').toStdString();
    EXPECT_FALSE(log.lines().join('\n').contains("secret"));
}

TEST(PageFetch, LineThatIsNoHeaderIs710)
{
    Capture c;
    PageFetchOptions o;
    o.normalizeHeaders = false;
    o.headers = QStringLiteral("X-A: 1\r\nthis is no header");
    EXPECT_EQ(fetch(c.server.url(), o), QString());
    EXPECT_EQ(o.statusText, pagefetch::kBadHeaders);
    EXPECT_TRUE(c.server.heads().isEmpty());
}

TEST(PageFetch, ServerClosingDuringTheUploadIs711)
{
    RawServer s([](RawConnection &c) { c.readRequest(true); });
    PageFetchOptions o;
    o.method = 1;
    o.binaryBody = QByteArray(32 << 20, 'x');
    EXPECT_EQ(fetch(s.url(), o), QString());
    EXPECT_EQ(o.statusText, pagefetch::kSendFailed);
}

TEST(PageFetch, NoAnswerIs712)
{
    RawServer s([](RawConnection &c) { c.readRequest(); });
    PageFetchOptions o;
    EXPECT_EQ(fetch(s.url(), o), QString());
    EXPECT_EQ(o.statusText, pagefetch::kNoResponse);
}

TEST(PageFetch, HeadCutShortIs712WithNothingElseSet)
{
    for (const QByteArray &part : {QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nSet-Cookie: s=1; pa"),
                                   QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n")}) {
        RawServer s = answerOnce(part);
        PageFetchOptions o;
        o.responseHeaders = QStringLiteral("kept");
        EXPECT_EQ(fetch(s.url(), o), QString()) << part.constData();
        EXPECT_EQ(o.statusText, pagefetch::kNoResponse) << part.constData();
        EXPECT_EQ(o.responseHeaders, QStringLiteral("kept"));
        EXPECT_EQ(o.newCookies, QString());
    }
}

TEST(PageFetch, SilentServerIs712AfterTheTimeout)
{
    RawServer s([](RawConnection &c) {
        c.readRequest();
        c.pause(5000);
    });
    PageFetchOptions o;
    o.timeoutSeconds = 1;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(fetch(s.url(), o), QString());
    EXPECT_EQ(o.statusText, pagefetch::kNoResponse);
    EXPECT_LT(timer.elapsed(), 3500);
}

// The failed read is followed by the header step, whose status line replaces the 713 text.
TEST(PageFetch, BodyCutOffHalfwayKeepsThePartAndReportsTheStatusLine)
{
    RawServer s = answerOnce("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nSet-Cookie: s=1; path=/\r\n\r\nhalf!");
    PageFetchOptions o;
    EXPECT_EQ(fetch(s.url(), o), QStringLiteral("half!"));
    EXPECT_EQ(o.statusText, QStringLiteral("200 OK"));
    EXPECT_EQ(o.responseBytes, "half!");
    EXPECT_EQ(o.newCookies, QStringLiteral("s=1"));
    EXPECT_TRUE(o.responseHeaders.startsWith(QStringLiteral("HTTP/1.1 200 OK\r\n")));
}

TEST(PageFetch, ProxyAndServerCredentialsAreBasic)
{
    Capture proxy;
    PageFetchOptions o;
    o.completeHeaders = false;
    o.proxy = QStringLiteral("127.0.0.1:%1").arg(proxy.server.port());
    o.proxyUser = QStringLiteral("puser");
    o.proxyPassword = QStringLiteral("ppass");
    o.user = QStringLiteral("user");
    o.password = QStringLiteral("pass");
    fetch(QStringLiteral("http://origin.invalid/x"), o);
    EXPECT_EQ(proxy.head(), "GET http://origin.invalid/x HTTP/1.1\r\n"
                                + Capture::lines({"Host: origin.invalid", "Proxy-Authorization: Basic cHVzZXI6cHBhc3M=",
                                               "Authorization: Basic dXNlcjpwYXNz"}));
}

TEST(PageFetch, CertificateErrorsAreIgnored)
{
    HttpTestServer s([](httplib::Server &svr) {
        svr.Get("/", [](const httplib::Request &, httplib::Response &res) { res.set_content("secure", "text/plain"); });
    }, HttpTestServer::Kind::Https);
    if (!s.isRunning())
        GTEST_SKIP() << "no openssl to make a certificate";
    PageFetchOptions o;
    EXPECT_EQ(fetch(s.url(), o), QStringLiteral("secure"));
    EXPECT_EQ(o.statusText, QStringLiteral("200 OK"));
}

TEST(PageFetch, TunnelGetsTheProxyCredentials)
{
    Capture proxy(response("HTTP/1.1 403 Forbidden", "", ""));
    PageFetchOptions o;
    o.proxy = QStringLiteral("127.0.0.1:%1").arg(proxy.server.port());
    o.proxyUser = QStringLiteral("puser");
    o.proxyPassword = QStringLiteral("ppass");
    o.cookies = QStringLiteral("secret=1");
    EXPECT_EQ(fetch(QStringLiteral("https://origin.invalid/x"), o), QString());
    EXPECT_EQ(proxy.head(), "CONNECT origin.invalid:443 HTTP/1.1\r\n"
                                + Capture::lines({"Host: origin.invalid:443", "Proxy-Authorization: Basic cHVzZXI6cHBhc3M="}));
    EXPECT_FALSE(o.statusText.isEmpty());
}
