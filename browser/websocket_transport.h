#pragma once

#include "browser/cdp_transport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

class QObject;

// The DevTools protocol over a WebSocket, to a browser that runs already: a
// debugging port's browser address, or the one a Selenium Grid hands out for
// a session. The socket lives on a thread of its own with its own event loop;
// that thread is the reader thread. Shutting down closes the socket, never
// the browser.
class WebSocketTransport final : public CdpTransport {
public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;

    WebSocketTransport();
    ~WebSocketTransport() override;
    WebSocketTransport(const WebSocketTransport &) = delete;
    WebSocketTransport &operator=(const WebSocketTransport &) = delete;

    // Opens the socket to url (ws:// or wss://) with the extra request
    // headers; false, with the reason in *why and the diagnostic log, when
    // it is not open within timeoutMs. Handlers run on the socket's thread.
    bool connectTo(const QString &url, const Headers &headers, int timeoutMs, MessageHandler onMessage, CloseHandler onClose,
                   QString *why = nullptr);

    bool send(std::string_view message, int timeoutMs = 5000) override;
    bool isOpen() const override { return m_open.load(); }
    void shutdown(int graceMs) override;

private:
    void run(QString url, Headers headers);
    void notifyClosed();

    MessageHandler m_onMessage;
    CloseHandler m_onClose;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId;
    std::mutex m_mutex; // guards the fields below
    std::condition_variable m_changed;
    QObject *m_pump = nullptr; // on the socket's thread; sends m_outgoing there
    std::deque<QString> m_outgoing;
    bool m_settled = false; // connected, or failed to
    bool m_stopping = false;
    QString m_failure;
    std::mutex m_shutdownMutex;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closeNotified{false};
};
