#include "net/http_request.h"

#include "base/gbk.h"
#include "net/curl_exchange.h"
#include "net/log.h"

#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

namespace net {

namespace {

using detail::headerLine;

const QString kCrLf = QStringLiteral("\r\n");

// Request headers as the request object keeps them: setting a name again
// replaces its value in place, setting an empty value removes it.
class RequestHeaders final {
public:
    void set(const QString &name, const QString &value)
    {
        if (name.isEmpty())
            return;
        const auto it = std::find_if(m_items.begin(), m_items.end(), [&](const auto &item) {
            return item.first.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (value.isEmpty()) {
            if (it != m_items.end())
                m_items.erase(it);
        } else if (it != m_items.end()) {
            it->second = value;
        } else {
            m_items.emplace_back(name, value);
        }
    }
    QList<QByteArray> lines() const
    {
        QList<QByteArray> out;
        for (const auto &[name, value] : m_items)
            out.append(headerLine(name, value));
        return out;
    }

private:
    std::vector<std::pair<QString, QString>> m_items;
};

QString completedHeaders(QString text, const QString &url, int method)
{
    const auto addMissing = [&](const QString &name, const QString &line) {
        if (!text.contains(name, Qt::CaseInsensitive))
            text += line;
    };
    addMissing(QStringLiteral("Accept:"), QStringLiteral("\r\nAccept: */*"));
    addMissing(QStringLiteral("Referer:"), QStringLiteral("\r\nReferer: ") + url);
    addMissing(QStringLiteral("Accept-Language:"), QStringLiteral("\r\nAccept-Language: zh-cn"));
    addMissing(QStringLiteral("User-Agent:"),
               QStringLiteral("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"));
    if (method == 1) {
        addMissing(QStringLiteral("Content-Type:"),
                   QStringLiteral("\r\nContent-Type: application/x-www-form-urlencoded"));
    }
    return text;
}

void setHeaderLines(RequestHeaders &headers, const QString &text)
{
    if (!text.contains(kCrLf)) {
        headers.set(headerName(text), headerValue(text));
        return;
    }
    for (const QString &line : text.split(kCrLf, Qt::SkipEmptyParts)) {
        const QString name = headerName(line);
        const QString value = headerValue(line);
        if (name == QLatin1String("Connection") && value == QLatin1String("keep-alive"))
            continue;
        headers.set(name, value);
    }
}

// Seconds beyond this are taken as this (over eleven days), so that no sum
// of milliseconds overflows.
constexpr int kMaxTimeoutSeconds = 1000000;

HttpSession::Timeouts timeoutsFor(int timeoutSeconds)
{
    const int each = timeoutSeconds < 1 ? 15000 : std::min(timeoutSeconds, kMaxTimeoutSeconds) * 1000;
    return {each, each, each, each};
}

void applyTimeouts(detail::ExchangeRequest &request, const HttpSession::Timeouts &t)
{
    // libcurl times resolving and connecting together.
    request.connectTimeoutMs = t.connectMs > 0 ? long(t.connectMs) + std::max(0, t.resolveMs) : 0;
    request.idleTimeoutMs = std::max(t.sendMs, t.receiveMs);
}

QString headerText(const QList<QByteArray> &lines)
{
    QString text;
    for (const QByteArray &line : lines)
        text += QString::fromLatin1(line) + kCrLf;
    return text;
}

} // namespace

QByteArray httpRequest(const QString &url, HttpRequestOptions &o)
{
    std::optional<HttpSession> own;
    if (!o.reuseObject)
        own.emplace();
    HttpSession &session = o.reuseObject ? *o.reuseObject : *own;
    if (!session.isValid()) {
        qCWarning(lcNet).noquote() << "no request to" << detail::urlForLog(detail::urlBytes(url)) << "-- the session has no libcurl handle";
        return {};
    }
    const std::lock_guard lock(session.m_mutex);

    detail::ExchangeRequest request;
    request.url = detail::urlBytes(url);
    request.method = detail::clampMethod(o.method);
    if (o.timeoutSeconds != -1)
        session.m_timeouts = timeoutsFor(o.timeoutSeconds);
    if (!o.proxy.isEmpty())
        session.m_proxy = o.proxy;
    if (o.noRedirect)
        session.m_followsRedirects = false;

    QString text = o.headers;
    if (o.completeHeaders)
        text = completedHeaders(text, url, request.method);
    if (o.normalizeHeaders)
        text = normalizeHeaderNames(text);

    RequestHeaders headers;
    if (!o.proxy.isEmpty() && !o.proxyUser.isEmpty()) {
        if (o.credentialTarget == 1) {
            const QString basic = QStringLiteral("Basic ") + base64Encode(detail::headerBytes(o.proxyUser + u':' + o.proxyPassword));
            // Inside a tunnel the header belongs to the proxy's CONNECT, not to the server.
            if (detail::isHttpsUrl(request.url))
                request.proxyHeaders.append(headerLine(u"Proxy-Authorization", basic));
            else
                headers.set(QStringLiteral("Proxy-Authorization"), basic);
        } else if (o.credentialTarget == 0) {
            request.user = detail::headerBytes(o.proxyUser);
            request.password = detail::headerBytes(o.proxyPassword);
            request.serverAuth = CURLAUTH_ANY;
        }
    }
    if (o.cookies) {
        if (!o.cookies->isEmpty() && o.cookies->contains(QLatin1String("Cookie:"), Qt::CaseInsensitive))
            o.cookies->remove(QLatin1String("Cookie:"), Qt::CaseInsensitive);
        headers.set(QStringLiteral("Cookie"), *o.cookies);
    }
    setHeaderLines(headers, text);
    request.headers = headers.lines();

    request.body = o.binaryBody.isEmpty() ? gbk::encode(o.body) : o.binaryBody;
    request.followRedirects = session.m_followsRedirects;
    request.proxy = session.m_proxy.toUtf8();
    applyTimeouts(request, session.m_timeouts);

    // Like the request object, a URL that is no http(s) URL gets no exchange.
    detail::ExchangeResult result;
    if (detail::isHttpUrl(request.url))
        result = detail::perform(session.m_handle.get(), request);
    else
        qCWarning(lcNet).noquote() << "no request: not an http(s) URL:" << detail::urlForLog(request.url);
    o.responseHeaders = headerText(result.headerLines);
    o.status = result.status;
    o.newCookies = setCookieItems(o.responseHeaders, SetCookieLines::All);
    if (o.mergeCookies && o.cookies)
        o.newCookies = mergeCookies(*o.cookies, o.newCookies);
    return std::move(result.body);
}

} // namespace net
