#pragma once

#include <QString>

namespace net {

// Whether a proxy works from this machine: a connection to it and one
// request through it to `origin`, which must answer with a page or a
// redirect (the proxy's own refusals come as 4xx and 5xx).
struct ProxyCheck {
    bool usable = false;
    qint64 elapsedMs = 0;
    QString reason; // for the user, in the program's language; empty when usable
};

// `server` is scheme://host:port (http, https or socks5). The credentials
// go to libcurl only: they appear in no log line and no reason.
ProxyCheck checkProxy(const QString &server, const QString &user, const QString &password, const QString &origin,
                      int timeoutMs = 8000);

} // namespace net
