#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QTcpSocket;

namespace nettest {

class RawServer;

// One accepted connection, driven by blocking calls on its own thread. Every
// wait gives up when the server is being stopped.
class RawConnection final {
public:
    RawConnection(QTcpSocket &socket, RawServer &server);

    // Reads one request head (up to the blank line) and, unless headOnly, the
    // body its Content-Length announces. False when the peer closed first.
    bool readRequest(bool headOnly = false);
    QByteArray head() const { return m_head; }
    QByteArray body() const { return m_body; }
    // The value of a request header (name without regard to case), trimmed.
    QByteArray header(QByteArrayView name) const;

    // Writes and waits until the bytes left; false when the peer is gone.
    bool write(QByteArrayView bytes);
    // Writes in pieces with a pause after each, for slow answers.
    bool writeSlowly(QByteArrayView bytes, qsizetype piece, int pauseMs);
    // Ends the connection after the written bytes have left.
    void close();
    // Waits, returning early when the server stops.
    void pause(int ms);

private:
    bool fill();

    QTcpSocket &m_socket;
    RawServer &m_server;
    QByteArray m_buffer;
    QByteArray m_head;
    QByteArray m_body;
};

// A loopback TCP server for exact request bytes and malformed answers: each
// connection runs the handler on a thread of its own.
class RawServer final {
public:
    using Handler = std::function<void(RawConnection &)>;

    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer &) = delete;
    RawServer &operator=(const RawServer &) = delete;

    quint16 port() const { return m_port; }
    QString url(const QString &path = QStringLiteral("/")) const;
    QByteArray hostHeader() const;

    // Every request head read so far, in order of arrival.
    QList<QByteArray> heads() const;
    int connectionCount() const { return m_connections; }
    bool stopping() const { return m_stopping; }

private:
    friend class RawConnection;
    friend class Acceptor;
    void accept(qintptr descriptor);
    void record(const QByteArray &head);

    Handler m_handler;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_connections = 0;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_heads;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};

// A server that answers every request with the same bytes; the tests compare
// the request heads it keeps.
class CaptureServer final {
public:
    explicit CaptureServer(QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    QByteArray head(int i = 0) const { return server.heads().value(i); }
    // Header lines as a request head ends: each with CR LF, then CR LF.
    static QByteArray lines(std::initializer_list<QByteArray> headerLines);

    RawServer server;
};

// An answer with the given status line, extra header lines and body, with
// its Content-Length.
QByteArray response(const QByteArray &statusLine, const QByteArray &headers, const QByteArray &body);

// Serves a request by request: answers each request of a kept-alive
// connection until the peer leaves.
RawServer::Handler answerEach(std::function<QByteArray(RawConnection &)> answer);

} // namespace nettest
