#include "tests/net/raw_server.h"

#include "tests/net/test_servers.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <future>

namespace nettest {

namespace {
constexpr int kPollMs = 20;
}

class Acceptor final : public QTcpServer {
public:
    explicit Acceptor(RawServer &server)
        : m_server(server)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_server.accept(descriptor); }

private:
    RawServer &m_server;
};

RawConnection::RawConnection(QTcpSocket &socket, RawServer &server)
    : m_socket(socket)
    , m_server(server)
{
}

bool RawConnection::fill()
{
    while (!m_server.stopping()) {
        if (m_socket.bytesAvailable() > 0) {
            m_buffer += m_socket.readAll();
            return true;
        }
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return false;
        m_socket.waitForReadyRead(kPollMs);
    }
    return false;
}

bool RawConnection::readRequest(bool headOnly)
{
    m_head.clear();
    m_body.clear();
    qsizetype end = -1;
    while ((end = m_buffer.indexOf("\r\n\r\n")) < 0) {
        if (!fill())
            return false;
    }
    m_head = m_buffer.left(end + 4);
    m_buffer.remove(0, end + 4);
    m_server.record(m_head);
    if (headOnly)
        return true;
    const qsizetype length = header("Content-Length").toLongLong();
    while (m_buffer.size() < length) {
        if (!fill())
            return false;
    }
    m_body = m_buffer.left(length);
    m_buffer.remove(0, length);
    return true;
}

QByteArray RawConnection::header(QByteArrayView name) const
{
    for (const QByteArray &line : m_head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && QByteArrayView(line).first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

bool RawConnection::write(QByteArrayView bytes)
{
    if (m_socket.write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    while (m_socket.bytesToWrite() > 0) {
        if (m_server.stopping() || m_socket.state() != QAbstractSocket::ConnectedState)
            return false;
        m_socket.waitForBytesWritten(kPollMs);
    }
    return true;
}

bool RawConnection::writeSlowly(QByteArrayView bytes, qsizetype piece, int pauseMs)
{
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        if (!write(bytes.sliced(at, std::min(piece, bytes.size() - at))))
            return false;
        pause(pauseMs);
    }
    return true;
}

void RawConnection::close()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForDisconnected(1000);
}

void RawConnection::pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!m_server.stopping() && timer.elapsed() < ms)
        QThread::msleep(std::min<qint64>(kPollMs, ms - timer.elapsed()));
}

RawServer::RawServer(Handler handler)
    : m_handler(std::move(handler))
{
    bypassProxies();
    std::promise<quint16> port;
    m_acceptor = std::thread([this, &port] {
        Acceptor acceptor(*this);
        port.set_value(acceptor.listen(QHostAddress::LocalHost, 0) ? acceptor.serverPort() : 0);
        while (!m_stopping)
            acceptor.waitForNewConnection(kPollMs);
    });
    m_port = port.get_future().get();
}

RawServer::~RawServer()
{
    m_stopping = true;
    m_acceptor.join();
    for (std::thread &t : m_threads)
        t.join();
}

QString RawServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QByteArray RawServer::hostHeader() const
{
    return "Host: 127.0.0.1:" + QByteArray::number(m_port);
}

QList<QByteArray> RawServer::heads() const
{
    const std::lock_guard lock(m_mutex);
    return m_heads;
}

void RawServer::accept(qintptr descriptor)
{
    ++m_connections;
    // Only the acceptor thread touches m_threads until the destructor joins it.
    m_threads.emplace_back([this, descriptor] {
        QTcpSocket socket;
        if (!socket.setSocketDescriptor(descriptor))
            return;
        RawConnection connection(socket, *this);
        m_handler(connection);
        connection.close();
    });
}

void RawServer::record(const QByteArray &head)
{
    const std::lock_guard lock(m_mutex);
    m_heads.append(head);
}

CaptureServer::CaptureServer(QByteArray answer)
    : server(answerEach([answer](RawConnection &) { return answer; }))
{
}

QByteArray CaptureServer::lines(std::initializer_list<QByteArray> headerLines)
{
    QByteArray out;
    for (const QByteArray &line : headerLines)
        out += line + "\r\n";
    return out + "\r\n";
}

QByteArray response(const QByteArray &statusLine, const QByteArray &headers, const QByteArray &body)
{
    return statusLine + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

RawServer::Handler answerEach(std::function<QByteArray(RawConnection &)> answer)
{
    return [answer = std::move(answer)](RawConnection &c) {
        while (c.readRequest()) {
            if (!c.write(answer(c)))
                return;
        }
    };
}

} // namespace nettest
