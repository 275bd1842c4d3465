#include "net/proxy_check.h"

#include "net/curl_exchange.h"
#include "net/log.h"

#include <QElapsedTimer>

namespace net {

namespace {

size_t discardBody(char *, size_t size, size_t count, void *)
{
    return size * count;
}

QString reasonOf(CURLcode code, long proxyStatus)
{
    if (proxyStatus == 407)
        return QStringLiteral("代理用户名或密码错误");
    switch (code) {
    case CURLE_COULDNT_CONNECT: return QStringLiteral("连接被拒绝");
    case CURLE_COULDNT_RESOLVE_PROXY: return QStringLiteral("无法解析代理地址");
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("连接超时");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION: return QStringLiteral("代理的加密连接失败");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING: return QStringLiteral("代理断开了连接");
    default: return proxyStatus >= 400 ? QStringLiteral("代理拒绝了请求（%1）").arg(proxyStatus) : QStringLiteral("代理无法连接到平台");
    }
}

} // namespace

ProxyCheck checkProxy(const QString &server, const QString &user, const QString &password, const QString &origin, int timeoutMs)
{
    ProxyCheck check;
    QElapsedTimer clock;
    clock.start();
    detail::CurlHandle curl = detail::curlReady() ? detail::newCurlHandle() : nullptr;
    if (!curl) {
        check.reason = QStringLiteral("网络组件不可用");
        qCWarning(lcNet) << "no proxy check of" << server << ": libcurl gives no handle";
        return check;
    }
    CURL *h = curl.get();
    const QByteArray url = detail::urlBytes(origin + QStringLiteral("/"));
    const QByteArray proxy = server.toUtf8();
    const QByteArray userBytes = user.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, userBytes.constData());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, passwordBytes.constData());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
    }
    // The proxy resolves the studio's name, as the browser's would.
    if (server.startsWith(QStringLiteral("socks5://")))
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, CURLPROXY_SOCKS5_HOSTNAME);
    // No proxy from the environment may stand in for the one checked.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &discardBody);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    const CURLcode code = curl_easy_perform(h);
    long proxyStatus = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // A plain-HTTP origin through an HTTP proxy: the proxy's refusal comes
    // as the response itself.
    // A proxy that refuses the credentials it was given may answer 401.
    if (code == CURLE_OK && (status == 407 || (status == 401 && !user.isEmpty())))
        proxyStatus = 407;
    check.elapsedMs = clock.elapsed();
    // The studio's origin answers with a page or a redirect; anything else
    // is the proxy's own refusal (credentials, no route to the studio).
    check.usable = code == CURLE_OK && status >= 200 && status < 400;
    if (!check.usable) {
        check.reason = reasonOf(code, proxyStatus ? proxyStatus : status);
        qCWarning(lcNet).noquote() << "the proxy" << server << "is not usable for" << origin << "--" << curl_easy_strerror(code)
                                   << "status" << status << "proxy status" << proxyStatus << "after" << check.elapsedMs << "ms";
    } else {
        qCInfo(lcNet).noquote() << "the proxy" << server << "reached" << origin << "in" << check.elapsedMs << "ms (status" << status << ")";
    }
    return check;
}

} // namespace net
