#include "net/page_fetch.h"

#include "base/gbk.h"
#include "net/curl_exchange.h"
#include "net/regex_matcher.h"

#include <QStringDecoder>
#include <QStringList>

namespace net {

namespace {

using namespace pagefetch;

const QString kCrLf = QStringLiteral("\r\n");

struct DefaultHeader {
    QLatin1String search;
    QLatin1String line;
    bool postOnly;
};

const DefaultHeader kDefaults[] = {
    {QLatin1String("User-Agent: "), QLatin1String("User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"), false},
    {QLatin1String("Accept: "), QLatin1String("Accept: text/html, application/xhtml+xml, */*\r\n"), false},
    {QLatin1String("Accept-Encoding: "), QLatin1String("Accept-Encoding: gbk, GB2312\r\n"), false},
    {QLatin1String("Accept-Language: "), QLatin1String("Accept-Language: zh-cn\r\n"), false},
    {QLatin1String("Content-Type:"), QLatin1String("Content-Type: application/x-www-form-urlencoded\r\n"), true},
    {QLatin1String("Cache-Control: "), QLatin1String("Cache-Control: no-cache\r\n"), false},
};

QString requestHeaderText(const PageFetchOptions &o, int method)
{
    QString h = o.headers.isEmpty() ? QString() : o.headers + kCrLf;
    if (o.completeHeaders) {
        for (const DefaultHeader &d : kDefaults) {
            if ((!d.postOnly || method == 1) && !h.contains(d.search, Qt::CaseInsensitive))
                h += d.line;
        }
    }
    if (o.normalizeHeaders)
        h = normalizeHeaderNames(h);
    if (h.contains(QLatin1String("Connection")) && headerValueOf(h, QStringLiteral("Connection")) == QLatin1String("keep-alive"))
        h.remove(QLatin1String("Connection: keep-alive\r\n"));
    if (!h.contains(QLatin1String("Cookie:"), Qt::CaseInsensitive) && !o.cookies.isEmpty()) {
        if (o.cookies.contains(QLatin1String("Cookie:"), Qt::CaseInsensitive))
            h += kCrLf + o.cookies + kCrLf;
        else
            h += QStringLiteral("\r\nCookie: ") + o.cookies + kCrLf;
    }
    return h;
}

// The header lines as sent; false when a line is no header (no name before a colon).
bool wireLines(const QString &text, QList<QByteArray> &lines)
{
    for (const QString &line : text.split(kCrLf, Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 1 || line.left(colon).trimmed().isEmpty())
            return false;
        if (line.mid(colon + 1).trimmed().isEmpty())
            lines.append(detail::headerLine(QStringView(line).left(colon), u""));
        else
            lines.append(detail::headerBytes(line));
    }
    return true;
}

QString stageMessage(detail::FailedStage stage)
{
    switch (stage) {
    case detail::FailedStage::Url:
        return kBadUrl;
    case detail::FailedStage::Connect:
    case detail::FailedStage::Send:
        return kSendFailed;
    case detail::FailedStage::Response:
        return kNoResponse;
    case detail::FailedStage::Read:
        return kReadFailed;
    case detail::FailedStage::None:
        break;
    }
    return {};
}

void readResponseHeaders(const detail::ExchangeResult &result, PageFetchOptions &o)
{
    QString raw = QString::fromLatin1(result.statusLine) + kCrLf;
    for (const QByteArray &line : result.headerLines)
        raw += QString::fromLatin1(line) + kCrLf;
    raw += kCrLf;
    o.responseHeaders = raw;
    // Also after a failed read: the status line replaces its message.
    o.statusText = raw.mid(9, raw.indexOf(kCrLf, 9) - 9);
    o.newCookies = setCookieItems(raw, SetCookieLines::WithAttributesOnly);
    o.location.clear();
    for (const QString &line : raw.split(kCrLf)) {
        if (line.left(10).compare(QLatin1String("Location: "), Qt::CaseInsensitive) == 0)
            o.location = line.mid(10);
    }
}

// The page decoded from the charset its first 1024 bytes declare; GBK text
// when none is declared, when it is unknown, or when it is gbk or gb2312 in
// any letter case (pages that say gb2312 are written with the wider GBK,
// which a strict GB2312 decoder would garble).
QString pageText(const QByteArray &body)
{
    RegexMatcher matcher;
    matcher.execute(QStringLiteral("<meta.+?charset=[^\\w]?([-\\w]+)"), QString::fromLatin1(body.left(1024)));
    const QString charset = matcher.submatchValue(1, 1);
    const bool isGbk = charset.compare(QLatin1String("gbk"), Qt::CaseInsensitive) == 0
        || charset.compare(QLatin1String("gb2312"), Qt::CaseInsensitive) == 0;
    if (!charset.isEmpty() && !isGbk) {
        QStringDecoder decoder(charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return gbk::decode(body);
}

} // namespace

QString fetchPageText(const QString &url, PageFetchOptions &o)
{
    if (!detail::curlReady()) {
        o.statusText = kNoPlatform;
        return {};
    }
    detail::ExchangeRequest request;
    request.url = detail::urlBytes(url);
    request.method = detail::clampMethod(o.method);
    if (!detail::isHttpUrl(request.url)) {
        o.statusText = kBadUrl;
        return {};
    }
    const detail::CurlHandle handle = detail::newCurlHandle();
    if (!handle) {
        o.statusText = kNoSession;
        return {};
    }
    // Beyond eleven days a time-out is as good as none; the cap keeps the sum below from overflowing.
    const long timeoutMs = o.timeoutSeconds < 1 ? 30000L : long(std::min(o.timeoutSeconds, 1000000)) * 1000L;
    request.connectTimeoutMs = 2 * timeoutMs; // resolve, then connect
    request.idleTimeoutMs = timeoutMs;
    request.proxy = o.proxy.toUtf8();
    if (!o.user.isEmpty() && !o.password.isEmpty()) {
        request.user = detail::headerBytes(o.user);
        request.password = detail::headerBytes(o.password);
    }
    if (!o.proxyUser.isEmpty() && !o.proxyPassword.isEmpty()) {
        request.proxyUser = detail::headerBytes(o.proxyUser);
        request.proxyPassword = detail::headerBytes(o.proxyPassword);
    }
    request.followRedirects = !o.noRedirect;
    if (!wireLines(requestHeaderText(o, request.method), request.headers)) {
        o.statusText = kBadHeaders;
        return {};
    }
    request.body = o.binaryBody.isEmpty() ? gbk::encode(o.body) : o.binaryBody;

    const detail::ExchangeResult result = detail::perform(handle.get(), request);
    if (result.failed != detail::FailedStage::None) {
        o.statusText = stageMessage(result.failed);
        if (result.failed != detail::FailedStage::Read)
            return {};
    }
    readResponseHeaders(result, o);
    if (o.mergeCookies && !o.cookies.isEmpty())
        o.newCookies = mergeCookies(o.cookies, o.newCookies);
    o.responseBytes = result.body;
    return pageText(result.body);
}

} // namespace net
