#pragma once

#include "net/header_text.h"
#include "net/http_session.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace net {

// The request-object client: one synchronous HTTP(S) exchange that hands
// back the raw body. It completes a sparse header set with browser-like
// defaults, rewrites header names, ignores certificate errors and keeps a
// cookie text up to date across calls.
struct HttpRequestOptions {
    // In.
    int method = 0; // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT; others GET
    QString body;   // sent as GBK when binaryBody is empty
    QString headers; // "Name: value" lines joined by CR LF
    bool noRedirect = false;
    QByteArray binaryBody;
    QString proxy; // host:port; empty: the session's proxy (none by default)
    // -1: keep the session's time-outs; below 1: 15 s; else seconds. All four
    // (resolve, connect, send, receive) get the same value.
    int timeoutSeconds = 0;
    QString proxyUser; // used only together with proxy
    QString proxyPassword;
    int credentialTarget = 1; // 1: the proxy (also sends Proxy-Authorization: Basic); 0: the server
    HttpSession *reuseObject = nullptr; // keeps connection and settings between calls
    bool mergeCookies = true;
    bool completeHeaders = true;
    bool normalizeHeaders = true;

    // In and out: not given means no Cookie header and no merge. A text
    // holding "Cookie:" loses it, and the merge writes its result back here.
    std::optional<QString> cookies;

    // Out.
    QString newCookies;      // the server's cookies, merged into `cookies` when that is on
    QString responseHeaders; // the final response's header lines, each ended by CR LF
    int status = 0;          // 0 when no response arrived
};

// Returns the response body; empty with no out field touched when no
// transfer handle can be made. No other failure is reported: the out fields
// hold what arrived (status 0 when no response did) and the caller decides by
// status and body. A body is kept up to 256 MiB. Thread-safe: each call has
// its own handle unless it reuses a session.
QByteArray httpRequest(const QString &url, HttpRequestOptions &options);

} // namespace net
