#include "browser/cdp_connection.h"

#include "browser/log.h"
#include "browser/pipe_transport.h"
#include "browser/websocket_transport.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>

struct CdpConnection::Pending {
    std::condition_variable cv;
    bool done = false;
    std::string sessionId;
    CdpReply reply;
};

namespace {

const rapidjson::Value &emptyObject()
{
    static const rapidjson::Value value(rapidjson::kObjectType);
    return value;
}

std::string stringMember(const rapidjson::Value &object, const char *name)
{
    if (!object.IsObject())
        return {};
    const auto it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString())
        return {};
    return std::string(it->value.GetString(), it->value.GetStringLength());
}

int hexValue(const std::string &text, std::size_t at)
{
    if (at + 4 > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

// A surrogate escape without its partner (a title cut in the middle of an
// emoji) is valid to the browser and invalid JSON to the parser; it becomes
// U+FFFD, as a UTF-8 decoder would make of it.
bool CdpConnection::repairLoneSurrogates(std::string &message)
{
    bool changed = false;
    for (std::size_t i = 0; i + 1 < message.size(); ++i) {
        if (message[i] != '\\')
            continue;
        if (message[i + 1] != 'u') {
            ++i; // an escaped character, a backslash among them
            continue;
        }
        const int unit = hexValue(message, i + 2);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 12 <= message.size() && message.compare(i + 6, 2, "\\u") == 0) {
            const int next = hexValue(message, i + 8);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                i += 11; // a proper pair
                continue;
            }
        }
        if (high || low) {
            message.replace(i + 2, 4, "FFFD");
            changed = true;
        }
        i += 5;
    }
    return changed;
}

const rapidjson::Value &CdpReply::result() const
{
    if (!message.IsObject())
        return emptyObject();
    const auto it = message.FindMember("result");
    return it != message.MemberEnd() && it->value.IsObject() ? it->value : emptyObject();
}

CdpConnection::CdpConnection() : m_transport(std::make_unique<PipeTransport>()) {}

CdpConnection::~CdpConnection()
{
    m_transport->shutdown(0);
}

bool CdpConnection::open(const QString &program, const QStringList &args)
{
    auto *pipe = dynamic_cast<PipeTransport *>(m_transport.get());
    return pipe && pipe->start(
                       program, args, [this](std::string &&message) { onMessage(std::move(message)); }, [this] { onClosed(); });
}

bool CdpConnection::attach(const QString &webSocketUrl, const QList<std::pair<QByteArray, QByteArray>> &headers, int timeoutMs,
                           QString *why)
{
    if (m_attached || m_transport->isOpen()) {
        if (why)
            *why = QStringLiteral("the connection is in use already");
        return false;
    }
    auto socket = std::make_unique<WebSocketTransport>();
    const bool connected = socket->connectTo(
        webSocketUrl, headers, timeoutMs, [this](std::string &&message) { onMessage(std::move(message)); }, [this] { onClosed(); },
        why);
    m_transport = std::move(socket);
    m_attached = true;
    m_endsBrowserOnClose = false;
    return connected;
}

bool CdpConnection::isOpen() const
{
    return m_transport->isOpen();
}

qint64 CdpConnection::processId() const
{
    return m_transport->processId();
}

QByteArray CdpConnection::standardErrorHead()
{
    return m_transport->standardErrorHead();
}

std::string CdpConnection::quote(std::string_view text)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string CdpConnection::frame(long id, std::string_view method, std::string_view params, const std::string &sessionId) const
{
    std::string out;
    out.reserve(64 + method.size() + params.size() + sessionId.size());
    out += "{\"id\":";
    out += std::to_string(id);
    out += ",\"method\":\"";
    out += method;
    out += '"';
    if (!sessionId.empty()) {
        out += ",\"sessionId\":";
        out += quote(sessionId);
    }
    if (!params.empty()) {
        out += ",\"params\":";
        out += params;
    }
    out += '}';
    return out;
}

CdpReply CdpConnection::call(std::string_view method, std::string_view paramsJson, const std::string &sessionId, int timeoutMs)
{
    CdpReply reply = exchange(method, paramsJson, sessionId, timeoutMs);
    warnFailed(method, reply, timeoutMs);
    return reply;
}

std::vector<CdpReply> CdpConnection::callAll(const std::vector<Call> &calls, const std::string &sessionId, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<CdpReply> replies(calls.size());
    std::vector<std::pair<long, std::shared_ptr<Pending>>> sent;
    for (size_t i = 0; i < calls.size(); ++i) {
        const long id = m_nextId++;
        auto pending = send(id, calls[i].method, calls[i].params, sessionId, timeoutMs, replies[i]);
        if (!pending) {
            // The rest are not sent: each would have depended on this one.
            for (size_t j = i + 1; j < calls.size(); ++j)
                replies[j].error = replies[i].error;
            break;
        }
        sent.emplace_back(id, std::move(pending));
    }
    for (size_t i = 0; i < sent.size(); ++i)
        replies[i] = awaitReply(sent[i].first, sent[i].second, deadline);
    for (size_t i = 0; i < calls.size(); ++i)
        warnFailed(calls[i].method, replies[i], timeoutMs);
    return replies;
}

void CdpConnection::warnFailed(std::string_view method, const CdpReply &reply, int timeoutMs) const
{
    if (reply.ok)
        return;
    const QString why = QString::fromStdString(reply.error);
    qCWarning(lcBrowser).noquote() << "DevTools call" << QString::fromUtf8(method.data(), static_cast<qsizetype>(method.size()))
                                   << "failed:" << (reply.error == "timeout" ? why + QStringLiteral(" after %1 ms").arg(timeoutMs) : why);
}

CdpReply CdpConnection::exchange(std::string_view method, std::string_view paramsJson, const std::string &sessionId, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const long id = m_nextId++;
    CdpReply failed;
    const auto pending = send(id, method, paramsJson, sessionId, timeoutMs, failed);
    if (!pending)
        return failed;
    return awaitReply(id, pending, deadline);
}

std::shared_ptr<CdpConnection::Pending> CdpConnection::send(long id, std::string_view method, std::string_view paramsJson,
                                                            const std::string &sessionId, int timeoutMs, CdpReply &failed)
{
    auto pending = std::make_shared<Pending>();
    pending->sessionId = sessionId;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            failed.error = "closed";
            return nullptr;
        }
        m_pending.emplace(id, pending);
    }
    if (!m_transport->send(frame(id, method, paramsJson, sessionId), timeoutMs)) {
        std::lock_guard lock(m_mutex);
        m_pending.erase(id);
        failed.error = "closed";
        return nullptr;
    }
    return pending;
}

CdpReply CdpConnection::awaitReply(long id, const std::shared_ptr<Pending> &pending, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    if (!pending->cv.wait_until(lock, deadline, [&] { return pending->done; })) {
        m_pending.erase(id);
        pending->reply.error = "timeout";
    }
    return std::move(pending->reply);
}

bool CdpConnection::post(std::string_view method, std::string_view paramsJson, const std::string &sessionId)
{
    return m_transport->send(frame(m_nextId++, method, paramsJson, sessionId), 2000);
}

void CdpConnection::onMessage(std::string &&message)
{
    rapidjson::Document doc;
    doc.Parse(message.data(), message.size());
    if (doc.HasParseError() && doc.GetParseError() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid && repairLoneSurrogates(message))
        doc.Parse(message.data(), message.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        qCWarning(lcBrowser) << "an unreadable message of" << message.size() << "bytes from the browser was dropped";
        return;
    }
    const auto idIt = doc.FindMember("id");
    if (idIt != doc.MemberEnd() && idIt->value.IsInt64()) {
        std::lock_guard lock(m_mutex);
        const auto it = m_pending.find(static_cast<long>(idIt->value.GetInt64()));
        if (it == m_pending.end())
            return; // answered after its time-out, or a post
        const std::shared_ptr<Pending> pending = it->second;
        m_pending.erase(it);
        const auto errorIt = doc.FindMember("error");
        if (errorIt != doc.MemberEnd()) {
            pending->reply.error = stringMember(errorIt->value, "message");
            if (pending->reply.error.empty())
                pending->reply.error = "error";
        } else {
            pending->reply.ok = true;
        }
        pending->reply.message = std::move(doc);
        pending->done = true;
        pending->cv.notify_one();
        return;
    }
    const std::string method = stringMember(doc, "method");
    if (method.empty())
        return;
    const auto paramsIt = doc.FindMember("params");
    const rapidjson::Value &params = paramsIt != doc.MemberEnd() && paramsIt->value.IsObject() ? paramsIt->value : emptyObject();
    const std::string sessionId = stringMember(doc, "sessionId");
    trackTargets(method, params);
    if (method == "Inspector.targetCrashed" && !sessionId.empty())
        failSession(sessionId, "target crashed");
    if (m_onEvent)
        m_onEvent(method, params, sessionId);
}

void CdpConnection::trackTargets(std::string_view method, const rapidjson::Value &params)
{
    if (method == "Target.attachedToTarget") {
        const auto info = params.FindMember("targetInfo");
        if (info == params.MemberEnd())
            return;
        std::lock_guard lock(m_mutex);
        m_sessionOfTarget[stringMember(info->value, "targetId")] = stringMember(params, "sessionId");
    } else if (method == "Target.detachedFromTarget") {
        failSession(stringMember(params, "sessionId"), "detached");
    } else if (method == "Target.targetCrashed" || method == "Target.targetDestroyed") {
        std::string sessionId;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_sessionOfTarget.find(stringMember(params, "targetId"));
            if (it == m_sessionOfTarget.end())
                return;
            sessionId = it->second;
            if (method == "Target.targetDestroyed")
                m_sessionOfTarget.erase(it);
        }
        failSession(sessionId, method == "Target.targetCrashed" ? "target crashed" : "target closed");
    }
}

void CdpConnection::failSession(const std::string &sessionId, const char *why)
{
    if (sessionId.empty())
        return;
    std::lock_guard lock(m_mutex);
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second->sessionId != sessionId) {
            ++it;
            continue;
        }
        it->second->reply.error = why;
        it->second->done = true;
        it->second->cv.notify_one();
        it = m_pending.erase(it);
    }
}

void CdpConnection::onClosed()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true; // calls from now on fail at once
    }
    // The owner hears of the end before the calls in flight fail, so a caller
    // woken by that failure finds the browser already marked as gone.
    if (m_onClose)
        m_onClose();
    {
        std::lock_guard lock(m_mutex);
        if (!m_pending.empty())
            qCWarning(lcBrowser) << "the browser went away;" << m_pending.size() << "calls in flight failed";
        for (auto &[id, pending] : m_pending) {
            pending->reply.error = "closed";
            pending->done = true;
            pending->cv.notify_one();
        }
        m_pending.clear();
    }
}

void CdpConnection::drop()
{
    m_transport->shutdown(0);
}

void CdpConnection::close(int graceMs)
{
    // Browser.close starts the browser's orderly exit, on which it writes to
    // its profile what it kept in memory: cookies reach their store in
    // batches, so a login of the last half minute is nowhere else yet. The
    // browser gives its network service up to 10 s for that; ending it sooner
    // loses the login. An exit in time ends the wait at once.
    constexpr int kOrderlyExitMs = 15000;
    if (m_attached) {
        // An attached browser's exit is not ours to watch: the socket goes
        // through a router that keeps it open after the browser is gone.
        // One we end (a Grid session's) is asked to close, and whoever
        // started it waits for the exit: the Grid's DELETE returns once the
        // node's driver has seen the browser end. Somebody else's browser
        // is only let go of.
        if (m_endsBrowserOnClose && m_transport->isOpen())
            call("Browser.close", {}, {}, 3000); // answered before the exit begins
        m_transport->shutdown(0);
        return;
    }
    if (m_transport->isOpen() && post("Browser.close") && graceMs > 0)
        graceMs = std::max(graceMs, kOrderlyExitMs);
    m_transport->shutdown(graceMs);
}
