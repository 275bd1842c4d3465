#pragma once

#include <QString>
#include <QTemporaryDir>

#include <httplib.h>

#include <functional>
#include <memory>
#include <thread>

namespace nettest {

// A cpp-httplib server on a loopback port, answering on its own thread until
// it is destroyed. `routes` sets up its handlers before it starts.
class HttpTestServer final {
public:
    enum class Kind { Http, Https };

    explicit HttpTestServer(const std::function<void(httplib::Server &)> &routes, Kind kind = Kind::Http);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer &) = delete;
    HttpTestServer &operator=(const HttpTestServer &) = delete;

    // False when the server could not start (for HTTPS: no certificate tool).
    bool isRunning() const { return m_port > 0; }
    QString url(const QString &path = QStringLiteral("/")) const;

private:
    QTemporaryDir m_certificates;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::thread m_thread;
};

// Makes libcurl ignore any proxy of the machine: the tests talk to loopback
// servers only.
void bypassProxies();

// A port on the loopback interface where nothing listens.
quint16 closedPort();

} // namespace nettest
