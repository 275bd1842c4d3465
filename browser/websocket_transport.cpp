#include "browser/websocket_transport.h"

#include "base/diagnostic_log.h"
#include "browser/log.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>

namespace {

// What the log shows of an address: never a user or password in it.
QString forLog(const QString &url)
{
    return QUrl(url).toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery);
}

// Lives on the socket's thread: a posted event there sends what other threads
// queued and carries out a shutdown. A plain posted event rather than a
// queued functor keeps the hand-over inside the event queue's own lock.
class SocketPump final : public QObject {
public:
    SocketPump(std::mutex &mutex, std::function<void()> work) : m_mutex(mutex), m_work(std::move(work)) {}
    bool event(QEvent *e) override
    {
        // The event was made under this lock by the thread that posted it;
        // taking it first orders that thread's writes before this read
        // (the queue's own lock is out of the thread checker's sight).
        bool ours = false;
        {
            std::lock_guard lock(m_mutex);
            ours = e->type() == QEvent::User;
        }
        if (!ours)
            return QObject::event(e);
        m_work();
        return true;
    }

private:
    std::mutex &m_mutex;
    std::function<void()> m_work;
};

} // namespace

WebSocketTransport::WebSocketTransport() = default;

WebSocketTransport::~WebSocketTransport()
{
    if (std::this_thread::get_id() == m_threadId.load()) {
        // Destroyed by one of its own handlers: nothing can join that thread.
        qCWarning(lcBrowser) << "a browser's WebSocket was destroyed on its own thread";
        shutdown(0);
        if (m_thread.joinable())
            m_thread.detach();
        return;
    }
    shutdown(0);
}

bool WebSocketTransport::connectTo(const QString &url, const Headers &headers, int timeoutMs, MessageHandler onMessage,
                                   CloseHandler onClose, QString *why)
{
    const auto fail = [&](const QString &reason) {
        qCWarning(lcBrowser).noquote() << "no DevTools connection to" << forLog(url) << "--" << reason;
        if (why)
            *why = reason;
        return false;
    };
    if (m_thread.joinable())
        return fail(QStringLiteral("the transport is in use already"));
    const QUrl parsed(url);
    if (!parsed.isValid() || (parsed.scheme() != QLatin1String("ws") && parsed.scheme() != QLatin1String("wss")))
        return fail(QStringLiteral("not a ws:// or wss:// address"));
    if (!QCoreApplication::instance())
        return fail(QStringLiteral("the program has no application object for the socket's event loop"));
    m_onMessage = std::move(onMessage);
    m_onClose = std::move(onClose);
    m_thread = std::thread([this, url, headers] { run(url, headers); });
    std::unique_lock lock(m_mutex);
    const bool settled = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_settled; });
    if (settled && m_failure.isEmpty())
        return true;
    const QString reason = settled ? m_failure : QStringLiteral("it did not open within %1 ms").arg(timeoutMs);
    lock.unlock();
    shutdown(0);
    return fail(reason);
}

void WebSocketTransport::run(QString url, Headers headers)
{
    m_threadId = std::this_thread::get_id();
    diagnostics::setThreadName("browser-ws");
    QEventLoop loop;
    QWebSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy); // a browser's endpoint is reached directly
    // A screenshot or a page's text comes back as one message of several MB.
    socket.setMaxAllowedIncomingMessageSize(256ll << 20);
    socket.setMaxAllowedIncomingFrameSize(256ll << 20);
    const auto settle = [this](const QString &failure) {
        std::lock_guard lock(m_mutex);
        if (m_settled)
            return;
        m_settled = true;
        m_failure = failure;
        m_changed.notify_all();
    };
    QObject::connect(&socket, &QWebSocket::connected, [this, &settle] {
        m_open = true;
        settle({});
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString &message) {
        m_onMessage(message.toUtf8().toStdString());
    });
    QObject::connect(&socket, &QWebSocket::binaryMessageReceived, [this](const QByteArray &message) {
        m_onMessage(message.toStdString());
    });
    QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), [&socket, &settle](QAbstractSocket::SocketError) {
        settle(socket.errorString());
    });
    QObject::connect(&socket, &QWebSocket::disconnected, [this, &socket, &loop, &settle] {
        settle(socket.errorString().isEmpty() ? QStringLiteral("the connection closed") : socket.errorString());
        if (m_open)
            qCInfo(lcBrowser).noquote() << "the browser's WebSocket closed:" << socket.closeCode() << socket.closeReason();
        m_open = false;
        loop.quit();
    });
    SocketPump pump(m_mutex, [this, &socket, &loop] {
        std::deque<QString> outgoing;
        bool stopping = false;
        {
            std::lock_guard lock(m_mutex);
            outgoing.swap(m_outgoing);
            stopping = m_stopping;
        }
        for (const QString &message : outgoing)
            socket.sendTextMessage(message);
        if (stopping) {
            socket.abort();
            loop.quit();
        }
    });
    bool stopping = false;
    {
        std::lock_guard lock(m_mutex);
        m_pump = &pump;
        stopping = m_stopping;
    }
    if (!stopping) {
        QNetworkRequest request{QUrl(url)};
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        socket.open(request);
        loop.exec();
    }
    {
        std::lock_guard lock(m_mutex);
        m_pump = nullptr;
        m_outgoing.clear();
    }
    socket.abort();
    settle(QStringLiteral("the connection closed"));
    notifyClosed();
}

bool WebSocketTransport::send(std::string_view message, int timeoutMs)
{
    Q_UNUSED(timeoutMs) // the socket buffers; a dead peer shows as its close
    if (!m_open)
        return false;
    std::lock_guard lock(m_mutex);
    if (!m_pump)
        return false;
    m_outgoing.push_back(QString::fromUtf8(message.data(), qsizetype(message.size())));
    // One wake-up for a batch: the pump takes everything queued by then.
    if (m_outgoing.size() == 1)
        QCoreApplication::postEvent(m_pump, new QEvent(QEvent::User));
    return true;
}

void WebSocketTransport::notifyClosed()
{
    m_open = false;
    if (!m_closeNotified.exchange(true) && m_onClose)
        m_onClose();
}

void WebSocketTransport::shutdown(int graceMs)
{
    // A browser asked to close ends the socket itself; give it the grace.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(graceMs, 0));
    while (m_open && std::this_thread::get_id() != m_threadId.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true; // a socket not yet made is never opened
        if (m_pump)
            QCoreApplication::postEvent(m_pump, new QEvent(QEvent::User));
    }
    if (std::this_thread::get_id() == m_threadId.load())
        return;
    std::lock_guard lock(m_shutdownMutex);
    if (m_thread.joinable())
        m_thread.join();
    notifyClosed();
}
