#include "net/http_request.h"

#include "tests/net/raw_server.h"
#include "tests/net/test_servers.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace net;
using namespace nettest;

namespace {

using Capture = CaptureServer;

const QByteArray kUserAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

} // namespace

TEST(HttpRequest, GetWithDefaultsCarriesExactlyTheDefaultHeaders)
{
    Capture c;
    HttpRequestOptions o;
    const QString url = c.server.url(QStringLiteral("/p?q=1"));
    EXPECT_EQ(httpRequest(url, o), "ok");
    EXPECT_EQ(o.status, 200);
    EXPECT_EQ(c.head(), "GET /p?q=1 HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), "Accept: */*", "Referer: " + url.toLatin1(),
                             "Accept-Language: zh-cn", kUserAgent}));
}

TEST(HttpRequest, PostWithDefaultsAddsTheFormTypeAndTheLength)
{
    Capture c;
    HttpRequestOptions o;
    o.method = 1;
    o.body = QStringLiteral("a=1&b=中");
    const QString url = c.server.url(QStringLiteral("/form"));
    httpRequest(url, o);
    EXPECT_EQ(c.head(), "POST /form HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), "Accept: */*", "Referer: " + url.toLatin1(), "Accept-Language: zh-cn",
                             kUserAgent, "Content-Type: application/x-www-form-urlencoded", "Content-Length: 8"}));
}

TEST(HttpRequest, CallerHeadersSuppressDefaultsAndGetCapitalised)
{
    Capture c;
    HttpRequestOptions o;
    o.headers = QStringLiteral("accept: text/html\r\nuser-agent: tester\r\nX-requested-with: x");
    const QString url = c.server.url();
    httpRequest(url, o);
    EXPECT_EQ(c.head(), "GET / HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), "Accept: text/html", "User-Agent: tester", "X-Requested-With: x",
                             "Referer: " + url.toLatin1(), "Accept-Language: zh-cn"}));
}

TEST(HttpRequest, CallerContentTypeReplacesTheFormType)
{
    Capture c;
    HttpRequestOptions o;
    o.method = 1;
    o.completeHeaders = false;
    o.headers = QStringLiteral("content-type: application/json");
    o.binaryBody = "{\"a\":1}";
    o.body = QStringLiteral("ignored");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(c.head(), "POST / HTTP/1.1\r\n"
                  + Capture::lines({c.server.hostHeader(), "Content-Type: application/json", "Content-Length: 7"}));
}

TEST(HttpRequest, WithoutDefaultsOnlyHostIsAdded)
{
    Capture c;
    HttpRequestOptions o;
    o.completeHeaders = false;
    httpRequest(c.server.url(), o);
    EXPECT_EQ(c.head(), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader()}));
}

TEST(HttpRequest, KeepAliveLineIsDroppedButCloseIsSent)
{
    Capture c;
    HttpRequestOptions o;
    o.completeHeaders = false;
    o.headers = QStringLiteral("Connection: keep-alive\r\nX-A: 1");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(c.head(0), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "X-A: 1"}));

    HttpRequestOptions close;
    close.completeHeaders = false;
    close.headers = QStringLiteral("Connection: close\r\nX-A: 1");
    httpRequest(c.server.url(), close);
    EXPECT_EQ(c.head(1), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Connection: close", "X-A: 1"}));

    // A single line is set as it stands.
    HttpRequestOptions single;
    single.completeHeaders = false;
    single.headers = QStringLiteral("Connection: keep-alive");
    httpRequest(c.server.url(), single);
    EXPECT_EQ(c.head(2), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Connection: keep-alive"}));
}

TEST(HttpRequest, MethodTableWithOutOfRangeNumbersAsGet)
{
    Capture c;
    const std::pair<int, QByteArray> cases[] = {{8, "GET / "}, {-1, "GET / "}, {2, "HEAD / "}, {3, "PUT / "},
                                                {4, "OPTIONS / "}, {5, "DELETE / "}, {6, "TRACE / "}};
    int i = 0;
    for (const auto &[method, line] : cases) {
        HttpRequestOptions o;
        o.method = method;
        o.completeHeaders = false;
        httpRequest(c.server.url(), o);
        EXPECT_TRUE(c.head(i++).startsWith(line)) << method;
    }
    EXPECT_TRUE(c.head(3).contains("Content-Length: 0\r\n")); // PUT always has a length
}

TEST(HttpRequest, CookiesAreSentFirstAndMergedBack)
{
    Capture c(response("HTTP/1.1 200 OK", "Set-Cookie: b=3\r\nSet-Cookie: a=deleted; path=/\r\n", "ok"));
    HttpRequestOptions o;
    o.completeHeaders = false;
    o.headers = QStringLiteral("X-A: 1");
    o.cookies = QStringLiteral("a=1; b=2");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(c.head(), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Cookie: a=1; b=2", "X-A: 1"}));
    EXPECT_EQ(o.newCookies, QStringLiteral("b=3"));
    EXPECT_EQ(*o.cookies, QStringLiteral("b=3"));
}

TEST(HttpRequest, NewCookiesComeFirst)
{
    Capture c(response("HTTP/1.1 200 OK", "Set-Cookie: c=5; path=/\r\n", "ok"));
    HttpRequestOptions o;
    o.cookies = QStringLiteral("a=1");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(o.newCookies, QStringLiteral("c=5; a=1"));
    EXPECT_EQ(*o.cookies, QStringLiteral("c=5; a=1"));
}

TEST(HttpRequest, CookieWordInTheCookieTextIsRemoved)
{
    Capture c;
    HttpRequestOptions o;
    o.completeHeaders = false;
    o.mergeCookies = false;
    o.cookies = QStringLiteral("Cookie: a=1");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(c.head(), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Cookie:  a=1"}));
    EXPECT_EQ(*o.cookies, QStringLiteral(" a=1"));

    HttpRequestOptions merged;
    merged.cookies = QStringLiteral("cookie: a=1");
    httpRequest(c.server.url(), merged);
    EXPECT_EQ(*merged.cookies, QStringLiteral("a=1"));
}

TEST(HttpRequest, MergeOffKeepsOnlyTheServersCookiesInOrder)
{
    Capture c(response("HTTP/1.1 200 OK", "Set-Cookie: c=5; path=/\r\nSet-Cookie: d=6\r\n", "ok"));
    HttpRequestOptions o;
    o.mergeCookies = false;
    o.cookies = QStringLiteral("a=1");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(o.newCookies, QStringLiteral("c=5; d=6"));
    EXPECT_EQ(*o.cookies, QStringLiteral("a=1"));
}

TEST(HttpRequest, NoCookiesGivenSendsNoCookieHeader)
{
    Capture c(response("HTTP/1.1 200 OK", "Set-Cookie: c=5\r\n", "ok"));
    HttpRequestOptions o;
    o.completeHeaders = false;
    httpRequest(c.server.url(), o);
    EXPECT_FALSE(c.head().contains("Cookie"));
    EXPECT_FALSE(o.cookies.has_value());
    EXPECT_EQ(o.newCookies, QStringLiteral("c=5"));
    EXPECT_TRUE(o.responseHeaders.contains(QStringLiteral("Set-Cookie: c=5\r\n")));
}

TEST(HttpRequest, RedirectIsFollowedUnlessSwitchedOff)
{
    HttpTestServer s([](httplib::Server &svr) {
        svr.Get("/from", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/to", 302); });
        svr.Get("/to", [](const httplib::Request &, httplib::Response &res) { res.set_content("arrived", "text/plain"); });
    });
    HttpRequestOptions follow;
    EXPECT_EQ(httpRequest(s.url(QStringLiteral("/from")), follow), "arrived");
    EXPECT_EQ(follow.status, 200);

    HttpRequestOptions stay;
    stay.noRedirect = true;
    EXPECT_EQ(httpRequest(s.url(QStringLiteral("/from")), stay), "");
    EXPECT_EQ(stay.status, 302);
    EXPECT_TRUE(stay.responseHeaders.contains(QStringLiteral("Location: /to\r\n")));
}

TEST(HttpRequest, TimeoutRules)
{
    Capture c;
    HttpSession session;
    EXPECT_EQ(session.timeouts(), (HttpSession::Timeouts{0, 60000, 30000, 30000}));
    HttpRequestOptions keep;
    keep.reuseObject = &session;
    keep.timeoutSeconds = -1;
    httpRequest(c.server.url(), keep);
    EXPECT_EQ(session.timeouts(), (HttpSession::Timeouts{0, 60000, 30000, 30000}));
    HttpRequestOptions three;
    three.reuseObject = &session;
    three.timeoutSeconds = 3;
    httpRequest(c.server.url(), three);
    EXPECT_EQ(session.timeouts(), (HttpSession::Timeouts{3000, 3000, 3000, 3000}));
    httpRequest(c.server.url(), keep);
    EXPECT_EQ(session.timeouts(), (HttpSession::Timeouts{3000, 3000, 3000, 3000}));
    HttpRequestOptions zero;
    zero.reuseObject = &session;
    httpRequest(c.server.url(), zero);
    EXPECT_EQ(session.timeouts(), (HttpSession::Timeouts{15000, 15000, 15000, 15000}));
}

TEST(HttpRequest, SilentServerTimesOut)
{
    RawServer silent([](RawConnection &c) {
        c.readRequest();
        c.pause(5000);
    });
    HttpRequestOptions o;
    o.timeoutSeconds = 1;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(httpRequest(silent.url(), o), "");
    EXPECT_EQ(o.status, 0);
    EXPECT_LT(timer.elapsed(), 3500);
}

TEST(HttpRequest, ReusedSessionKeepsItsConnectionAndSettings)
{
    HttpTestServer s([](httplib::Server &svr) {
        svr.Get("/from", [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/to", 302); });
        svr.Get("/to", [](const httplib::Request &, httplib::Response &res) { res.set_content("arrived", "text/plain"); });
    });
    HttpSession session;
    HttpRequestOptions first;
    first.reuseObject = &session;
    first.noRedirect = true;
    httpRequest(s.url(QStringLiteral("/from")), first);
    EXPECT_EQ(first.status, 302);
    HttpRequestOptions second;
    second.reuseObject = &session;
    httpRequest(s.url(QStringLiteral("/from")), second);
    EXPECT_EQ(second.status, 302); // redirects stay off, as on the reused object

    Capture c;
    for (int i = 0; i < 3; ++i) {
        HttpRequestOptions o;
        o.reuseObject = &session;
        EXPECT_EQ(httpRequest(c.server.url(), o), "ok");
    }
    EXPECT_EQ(c.server.connectionCount(), 1);
}

TEST(HttpRequest, ProxyGetsTheAbsoluteUrlAndBasicCredentials)
{
    Capture proxy;
    HttpRequestOptions o;
    o.completeHeaders = false;
    o.proxy = QStringLiteral("127.0.0.1:%1").arg(proxy.server.port());
    o.proxyUser = QStringLiteral("user");
    o.proxyPassword = QStringLiteral("pass");
    o.cookies = QStringLiteral("a=1");
    EXPECT_EQ(httpRequest(QStringLiteral("http://origin.invalid/x"), o), "ok");
    EXPECT_EQ(proxy.head(), "GET http://origin.invalid/x HTTP/1.1\r\n"
                                + Capture::lines({"Host: origin.invalid", "Proxy-Authorization: Basic dXNlcjpwYXNz", "Cookie: a=1"}));
}

TEST(HttpRequest, ProxyUserWithoutProxySetsNoCredentials)
{
    Capture c;
    HttpRequestOptions o;
    o.completeHeaders = false;
    o.proxyUser = QStringLiteral("user");
    o.proxyPassword = QStringLiteral("pass");
    httpRequest(c.server.url(), o);
    EXPECT_EQ(c.head(), "GET / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader()}));
}

TEST(HttpRequest, CertificateErrorsAreIgnored)
{
    HttpTestServer s([](httplib::Server &svr) {
        svr.Get("/", [](const httplib::Request &, httplib::Response &res) { res.set_content("secure", "text/plain"); });
    }, HttpTestServer::Kind::Https);
    if (!s.isRunning())
        GTEST_SKIP() << "no openssl to make a certificate";
    HttpRequestOptions o;
    EXPECT_EQ(httpRequest(s.url(), o), "secure");
    EXPECT_EQ(o.status, 200);
}

TEST(HttpRequest, UnreachableOrBadUrlGivesStatusZero)
{
    HttpRequestOptions refused;
    EXPECT_EQ(httpRequest(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()), refused), "");
    EXPECT_EQ(refused.status, 0);
    HttpRequestOptions bad;
    EXPECT_EQ(httpRequest(QStringLiteral("not a url"), bad), "");
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.responseHeaders, QString());
}

TEST(HttpRequest, TunnelGetsTheProxyCredentialsAndNoServerHeaders)
{
    Capture proxy(response("HTTP/1.1 403 Forbidden", "", ""));
    HttpRequestOptions o;
    o.proxy = QStringLiteral("127.0.0.1:%1").arg(proxy.server.port());
    o.proxyUser = QStringLiteral("user");
    o.proxyPassword = QStringLiteral("pass");
    o.cookies = QStringLiteral("secret=1");
    httpRequest(QStringLiteral("https://origin.invalid/x"), o);
    EXPECT_EQ(proxy.head(), "CONNECT origin.invalid:443 HTTP/1.1\r\n"
                                + Capture::lines({"Host: origin.invalid:443", "Proxy-Authorization: Basic dXNlcjpwYXNz"}));
    EXPECT_EQ(o.status, 0);
}

TEST(HttpRequest, LargeBodyGoesWithoutExpect)
{
    Capture c;
    HttpRequestOptions o;
    o.method = 1;
    o.completeHeaders = false;
    o.binaryBody = QByteArray(2 << 20, 'b');
    EXPECT_EQ(httpRequest(c.server.url(), o), "ok");
    EXPECT_EQ(c.head(), "POST / HTTP/1.1\r\n" + Capture::lines({c.server.hostHeader(), "Content-Length: 2097152"}));
}
