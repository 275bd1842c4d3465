#pragma once

#include "net/curl_exchange.h"

#include <QString>

#include <mutex>

namespace net {

struct HttpRequestOptions;

// Stands for a reused request object: it keeps its live connection and the
// settings a call gave it (time-outs, proxy, redirects off) for the calls
// after. Calls through one session run one at a time; the accessors wait
// for a running call to end.
class HttpSession final {
public:
    // Time-outs in milliseconds; 0 means none.
    struct Timeouts {
        int resolveMs = 0;
        int connectMs = 60000;
        int sendMs = 30000;
        int receiveMs = 30000;
        bool operator==(const Timeouts &) const = default;
    };

    HttpSession();
    HttpSession(const HttpSession &) = delete;
    HttpSession &operator=(const HttpSession &) = delete;

    // False when no transfer handle could be created.
    bool isValid() const { return m_handle != nullptr; }

    Timeouts timeouts() const;
    void setTimeouts(const Timeouts &timeouts);
    QString proxy() const;
    void setProxy(const QString &proxy);
    bool followsRedirects() const;
    void setFollowsRedirects(bool follow);

private:
    friend QByteArray httpRequest(const QString &url, HttpRequestOptions &options);
    mutable std::mutex m_mutex;
    detail::CurlHandle m_handle;
    Timeouts m_timeouts;
    QString m_proxy;
    bool m_followsRedirects = true;
};

} // namespace net
