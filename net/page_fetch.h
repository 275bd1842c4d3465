#pragma once

#include "net/header_text.h"

#include <QByteArray>
#include <QString>

namespace net {

// The page-text client: one synchronous HTTP(S) exchange returned as text,
// decoded from the character set the page declares. Every failing step is
// reported by a numbered message in statusText.
struct PageFetchOptions {
    // In.
    int method = 0;  // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT; others GET
    QString body;    // sent as GBK when binaryBody is empty
    QString headers; // "Name: value" lines joined by CR LF
    bool noRedirect = false;
    QString user; // server Basic credentials, used when both are given
    QString password;
    QString proxy; // host:port; empty: no proxy
    QString proxyUser; // proxy Basic credentials, used when both are given
    QString proxyPassword;
    int timeoutSeconds = 0; // below 1: 30 s for each of resolve, connect, send, receive
    bool mergeCookies = true;
    bool completeHeaders = true;
    QByteArray binaryBody;
    bool normalizeHeaders = true;

    // In and out: sent as the Cookie header unless the headers hold one;
    // rewritten by the merge.
    QString cookies;

    // Out. On a failure only statusText changes, except after a failed body
    // read, which still fills everything from what arrived: statusText then
    // holds the status line like on success, not the "713 ..." message.
    QString newCookies;      // the server's cookies, or the merged cookie text
    QString responseHeaders; // status line and header lines, each ended by CR LF, then CR LF
    QString location;        // the Location header's value
    QString statusText;      // "200 OK" on success; the numbered message on failure
    QByteArray responseBytes; // the raw body
};

// Returns the page text, empty on every failure that ends the exchange; a
// body cut short gives the part that arrived. A 4xx or 5xx answer is no
// failure. A body past 256 MiB ends the read like a failed read.
// Thread-safe: each call has its own handle.
QString fetchPageText(const QString &url, PageFetchOptions &options);

namespace pagefetch {
// The messages statusText carries on failure. The steps that only make a
// handle or set an option of the transfer (703, 704, 705, 707, 708, 709, the
// certificate flags) cannot fail on their own with libcurl, so their messages
// never appear. The connection is made while the request is sent: a host that
// does not resolve, a refused connection or a connect time-out is 711. A
// connection that ends before the response head is complete is 712.
inline const QString kNoPlatform = QStringLiteral("700 当前系统不支持WinHttp服务!");
inline const QString kBadUrl = QStringLiteral("701 解析URL地址失败!");
inline const QString kNoSession = QStringLiteral("702 创建WinHttp会话失败!");
inline const QString kBadHeaders = QStringLiteral("710 设置协议头失败!");
inline const QString kSendFailed = QStringLiteral("711 发送请求失败!");
inline const QString kNoResponse = QStringLiteral("712 服务器未响应!");
inline const QString kReadFailed = QStringLiteral("713 读取数据失败!");
} // namespace pagefetch

} // namespace net
