#pragma once

#include <rapidjson/document.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CdpTransport;

// The answer to one protocol call.
struct CdpReply {
    bool ok = false;
    std::string error; // protocol error message, "timeout" or "closed"
    rapidjson::Document message;
    // The "result" object of the answer (an empty object when there is none).
    const rapidjson::Value &result() const;
};

// DevTools protocol over a transport (the browser's pipe, or a WebSocket to a
// browser that runs elsewhere): numbered calls that each wait at most
// their time-out, flat sessions, and events routed by session id.
//
// When the browser goes away every pending call fails at once; when a target
// crashes or detaches, the pending calls of its session fail at once.
class CdpConnection final {
public:
    // (method, params, sessionId) on the reader thread; must not call() back.
    using EventHandler = std::function<void(std::string_view method, const rapidjson::Value &params, const std::string &sessionId)>;
    using CloseHandler = std::function<void()>;

    CdpConnection();
    ~CdpConnection();
    CdpConnection(const CdpConnection &) = delete;
    CdpConnection &operator=(const CdpConnection &) = delete;

    void setEventHandler(EventHandler handler) { m_onEvent = std::move(handler); }
    void setCloseHandler(CloseHandler handler) { m_onClose = std::move(handler); }
    // Starts the browser on its pipe.
    bool open(const QString &program, const QStringList &args);
    // Attaches to a running browser's DevTools WebSocket (its browser-wide
    // address) with the extra request headers; false with the reason in *why.
    // Such a browser is not ours: close() only lets go of it, unless
    // setEndsBrowserOnClose(true) says it is ours to end.
    bool attach(const QString &webSocketUrl, const QList<std::pair<QByteArray, QByteArray>> &headers, int timeoutMs,
                QString *why = nullptr);
    void setEndsBrowserOnClose(bool ends) { m_endsBrowserOnClose = ends; }
    bool isAttached() const { return m_attached; }
    bool isOpen() const;
    qint64 processId() const;
    // The first lines the browser wrote to its standard error.
    QByteArray standardErrorHead();

    // paramsJson is an object text ("" = no params); sessionId "" = the browser.
    CdpReply call(std::string_view method, std::string_view paramsJson = {}, const std::string &sessionId = {}, int timeoutMs = 10000);
    // The calls go out back to back on one session and their answers are
    // awaited after the last is sent: one round trip instead of one each. The
    // browser handles them in the order sent. One reply per call, in order;
    // the time-out counts from the first send.
    struct Call {
        std::string_view method;
        std::string params;
    };
    std::vector<CdpReply> callAll(const std::vector<Call> &calls, const std::string &sessionId = {}, int timeoutMs = 10000);
    // Sends without waiting for the answer (safe on the reader thread).
    bool post(std::string_view method, std::string_view paramsJson = {}, const std::string &sessionId = {});

    // Asks the browser to close, then ends the process when it lingers. A
    // positive grace is stretched to the time the browser may take to write
    // its profile on the way out; 0 ends it at once.
    void close(int graceMs);
    // Ends the connection at once and asks the browser nothing; every
    // pending call fails ("closed"). Any thread but the reader's.
    void drop();

    // A JSON string literal for the text, quotes included.
    static std::string quote(std::string_view text);
    // Turns \u escapes of lone UTF-16 surrogates into \uFFFD; true when any was.
    static bool repairLoneSurrogates(std::string &message);

private:
    struct Pending;
    CdpReply exchange(std::string_view method, std::string_view paramsJson, const std::string &sessionId, int timeoutMs);
    // Registers and sends one call; null (reply set) when it could not go out.
    std::shared_ptr<Pending> send(long id, std::string_view method, std::string_view paramsJson, const std::string &sessionId,
                                  int timeoutMs, CdpReply &failed);
    CdpReply awaitReply(long id, const std::shared_ptr<Pending> &pending, std::chrono::steady_clock::time_point deadline);
    void warnFailed(std::string_view method, const CdpReply &reply, int timeoutMs) const;
    void onMessage(std::string &&message);
    void onClosed();
    void failSession(const std::string &sessionId, const char *why);
    void trackTargets(std::string_view method, const rapidjson::Value &params);
    std::string frame(long id, std::string_view method, std::string_view params, const std::string &sessionId) const;

    std::unique_ptr<CdpTransport> m_transport;
    bool m_attached = false;
    bool m_endsBrowserOnClose = true;
    EventHandler m_onEvent;
    CloseHandler m_onClose;
    std::mutex m_mutex;
    std::unordered_map<long, std::shared_ptr<Pending>> m_pending;
    std::map<std::string, std::string> m_sessionOfTarget;
    std::atomic<long> m_nextId{1};
    bool m_closed = false;
};
