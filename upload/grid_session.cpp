#include "upload/grid_session.h"

#include "base/service_config.h"
#include "net/http_request.h"
#include "upload/log.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <chrono>

namespace {

constexpr int kGet = 0;
constexpr int kPost = 1;
constexpr int kDelete = 5;
// A session the Grid hears nothing of for its session time-out (300 s by
// default) is ended by it; a cheap command well within that keeps it. The
// same command notices a node that died: the router does not always close
// the session's WebSocket then, and calls on it would only time out.
constexpr auto kKeepAlivePeriod = std::chrono::seconds(2);
// A router that misses one answer may just be busy.
constexpr int kMissesBeforeLost = 2;

const QString kNodeCapability = QStringLiteral("tolvar:node");

QString errorOf(const QByteArray &body)
{
    const QJsonObject value = QJsonDocument::fromJson(body).object().value(QStringLiteral("value")).toObject();
    const QString message = value.value(QStringLiteral("message")).toString();
    return message.isEmpty() ? QString::fromUtf8(body.left(200)) : message.section(u'\n', 0, 0).left(300);
}

} // namespace

GridSession::GridSession(const ServiceConfig &config)
    : m_router(config.gridUrl), m_user(config.gridUser), m_password(config.gridPassword), m_newSessionSeconds(config.gridNewSessionSeconds)
{
}

GridSession::~GridSession()
{
    end();
}

QString GridSession::routerForLog() const
{
    return QUrl(m_router).toDisplayString(QUrl::RemoveUserInfo);
}

GridSession::Headers GridSession::headers() const
{
    Headers out;
    if (!m_user.isEmpty())
        out.append({QByteArrayLiteral("Authorization"), "Basic " + (m_user + u':' + m_password).toUtf8().toBase64()});
    return out;
}

int GridSession::exchange(int method, const QString &path, const QByteArray &body, int timeoutSeconds, QByteArray *reply) const
{
    net::HttpRequestOptions options;
    options.method = method;
    options.binaryBody = body;
    QStringList headerLines;
    if (!body.isEmpty())
        headerLines << QStringLiteral("Content-Type: application/json; charset=utf-8");
    for (const auto &[name, value] : headers())
        headerLines << QString::fromLatin1(name + ": " + value);
    options.headers = headerLines.join(QStringLiteral("\r\n"));
    options.completeHeaders = false;
    options.normalizeHeaders = false;
    options.mergeCookies = false;
    options.noRedirect = true;
    options.timeoutSeconds = timeoutSeconds;
    const QByteArray answer = net::httpRequest(m_router + path, options);
    if (reply)
        *reply = answer;
    return options.status;
}

QString GridSession::nodeUnavailable(const QString &node) const
{
    QByteArray body;
    const int status = exchange(kGet, QStringLiteral("/status"), {}, 10, &body);
    if (status == 0)
        return QStringLiteral("the Grid at %1 does not answer").arg(routerForLog());
    if (status == 401)
        return QStringLiteral("the Grid at %1 refused its user and password").arg(routerForLog());
    if (status != 200)
        return QStringLiteral("the Grid at %1 answered its status with HTTP %2").arg(routerForLog()).arg(status);
    const QJsonArray nodes = QJsonDocument::fromJson(body).object().value(QStringLiteral("value")).toObject().value(QStringLiteral("nodes")).toArray();
    bool known = false;
    bool up = false;
    for (const QJsonValue &entry : nodes) {
        const QJsonObject n = entry.toObject();
        const bool nodeUp = n.value(QStringLiteral("availability")).toString() == QLatin1String("UP");
        for (const QJsonValue &slot : n.value(QStringLiteral("slots")).toArray()) {
            const QJsonObject s = slot.toObject();
            if (s.value(QStringLiteral("stereotype")).toObject().value(kNodeCapability).toString() != node)
                continue;
            known = true;
            up = up || nodeUp;
            if (nodeUp && s.value(QStringLiteral("session")).isNull())
                return {};
        }
    }
    if (!known)
        return QStringLiteral("the Grid has no node %1").arg(node);
    return up ? QStringLiteral("node %1 has no free slot").arg(node) : QStringLiteral("node %1 is not up").arg(node);
}

bool GridSession::start(const QString &node, const QStringList &args, QString *why)
{
    const auto fail = [&](const QString &reason) {
        qCWarning(lcUpload).noquote() << "no Grid browser on node" << node << "--" << reason;
        if (why)
            *why = reason;
        return false;
    };
    end();
    if (m_router.isEmpty())
        return fail(QStringLiteral("no Grid is set ([grid] url in data/services.ini)"));
    const QString unavailable = nodeUnavailable(node);
    if (!unavailable.isEmpty())
        return fail(unavailable);
    QJsonObject chromeOptions{{QStringLiteral("args"), QJsonArray::fromStringList(args)}};
    // The node's driver would otherwise add flags of its own that a studio may see.
    chromeOptions.insert(QStringLiteral("excludeSwitches"), QJsonArray{QStringLiteral("enable-automation")});
    const QJsonObject always{{QStringLiteral("browserName"), QStringLiteral("chrome")},
                             {kNodeCapability, node},
                             {QStringLiteral("goog:chromeOptions"), chromeOptions}};
    const QJsonObject request{{QStringLiteral("capabilities"), QJsonObject{{QStringLiteral("alwaysMatch"), always}}}};
    QByteArray body;
    const int status = exchange(kPost, QStringLiteral("/session"), QJsonDocument(request).toJson(QJsonDocument::Compact), m_newSessionSeconds, &body);
    if (status == 0)
        return fail(QStringLiteral("the Grid started no browser on node %1 within %2 s").arg(node).arg(m_newSessionSeconds));
    const QJsonObject value = QJsonDocument::fromJson(body).object().value(QStringLiteral("value")).toObject();
    const QString id = value.value(QStringLiteral("sessionId")).toString();
    const QString cdp = value.value(QStringLiteral("capabilities")).toObject().value(QStringLiteral("se:cdp")).toString();
    if (status != 200 || id.isEmpty())
        return fail(QStringLiteral("the Grid refused the session (HTTP %1): %2").arg(status).arg(errorOf(body)));
    m_id = id;
    m_node = node;
    if (cdp.isEmpty()) {
        end();
        return fail(QStringLiteral("the Grid gave no DevTools address for the session (se:cdp)"));
    }
    // The Grid builds the address from the host and port it believes it
    // has; behind a router or with several addresses that may be one this
    // machine cannot reach. The session's path on the router we talk to
    // leads to the same place.
    QUrl cdpUrl(cdp);
    const QUrl router(m_router);
    if (cdpUrl.path().startsWith(QLatin1String("/session/"))) {
        cdpUrl.setScheme(router.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
        cdpUrl.setHost(router.host());
        cdpUrl.setPort(router.port(router.scheme() == QLatin1String("https") ? 443 : 80));
        cdpUrl.setPath(router.path() + cdpUrl.path());
    }
    m_cdpUrl = cdpUrl.toString();
    m_lost = false;
    {
        std::lock_guard lock(m_mutex);
        m_ending = false;
    }
    m_keeper = std::thread([this] { keepAlive(); });
    qCInfo(lcUpload).noquote() << "Grid session" << id << "on node" << node << "of" << routerForLog();
    return true;
}

void GridSession::keepAlive()
{
    std::unique_lock lock(m_mutex);
    int misses = 0;
    while (!m_wake.wait_for(lock, kKeepAlivePeriod, [this] { return m_ending; })) {
        lock.unlock();
        QByteArray body;
        const int status = exchange(kGet, QStringLiteral("/session/%1/timeouts").arg(m_id), {}, 5, &body);
        lock.lock();
        if (m_ending)
            break;
        if (status == 200) {
            misses = 0;
            continue;
        }
        // An unknown session is gone for good; anything else twice in a row.
        if (status != 404 && ++misses < kMissesBeforeLost)
            continue;
        m_lost = true;
        qCWarning(lcUpload).noquote() << "the Grid session" << m_id << "on node" << m_node << "is gone:"
                                      << (status == 0 ? QStringLiteral("the Grid does not answer") : errorOf(body));
        const std::function<void()> onLost = m_onLost;
        lock.unlock();
        if (onLost)
            onLost();
        lock.lock();
        break;
    }
}

void GridSession::end()
{
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    if (m_keeper.joinable())
        m_keeper.join();
    if (m_id.isEmpty())
        return;
    QByteArray body;
    // The node's driver answers once the browser has exited, and it lets a
    // browser on a profile of its user's write that profile first; the next
    // session on this profile must not start before.
    const int status = exchange(kDelete, QStringLiteral("/session/%1").arg(m_id), {}, 45, &body);
    if (status == 200)
        qCInfo(lcUpload).noquote() << "ended Grid session" << m_id << "on node" << m_node;
    else
        qCWarning(lcUpload).noquote() << "the Grid session" << m_id << "on node" << m_node << "did not end cleanly (HTTP" << status << ")" << errorOf(body);
    m_id.clear();
    m_cdpUrl.clear();
}

QString GridSession::nodeProfile(const QString &profileRoot, const QString &cacheId)
{
    const QString id = cacheId.isEmpty() ? QStringLiteral("100") : cacheId;
    // The node's own kind of path: a Windows node's root has backslashes.
    const QChar separator = profileRoot.contains(u'\\') && !profileRoot.contains(u'/') ? u'\\' : u'/';
    QString root = profileRoot;
    while (root.size() > 1 && (root.endsWith(u'/') || root.endsWith(u'\\')))
        root.chop(1);
    return root + separator + QStringLiteral("tolvar") + id;
}

QString GridSession::nodePath(const QString &localPath, const QString &videoRoot, const QString &nodeVideoRoot, QString *why)
{
    const auto refuse = [&](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    if (videoRoot.isEmpty() || nodeVideoRoot.isEmpty())
        return refuse(QStringLiteral("no shared video folder is set ([grid] video_root and node_video_root)"));
    const QString root = QDir::cleanPath(QDir(videoRoot).absolutePath());
    const QString file = QDir::cleanPath(QDir(localPath).absolutePath());
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    if (!file.startsWith(root + u'/', cs))
        return refuse(QStringLiteral("%1 is not in the folder the nodes share (%2)").arg(QDir::toNativeSeparators(file), QDir::toNativeSeparators(root)));
    QString rest = file.mid(root.size() + 1);
    QString there = nodeVideoRoot;
    const QChar separator = there.contains(u'\\') && !there.contains(u'/') ? u'\\' : u'/';
    if (separator == u'\\')
        rest.replace(u'/', u'\\');
    while (there.size() > 1 && (there.endsWith(u'/') || there.endsWith(u'\\')))
        there.chop(1);
    return there + separator + rest;
}

QString devToolsWebSocketOf(const QString &endpoint, QString *why)
{
    const auto refuse = [&](const QString &reason) {
        qCWarning(lcUpload).noquote() << "no DevTools address at" << QUrl(endpoint).toDisplayString(QUrl::RemoveUserInfo) << "--" << reason;
        if (why)
            *why = reason;
        return QString();
    };
    const QUrl url(endpoint);
    if (url.scheme() == QLatin1String("ws") || url.scheme() == QLatin1String("wss"))
        return endpoint;
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return refuse(QStringLiteral("not a ws://, wss://, http:// or https:// address"));
    QUrl version = url;
    version.setPath(QStringLiteral("/json/version"));
    version.setQuery(QString());
    net::HttpRequestOptions options;
    options.completeHeaders = false;
    options.mergeCookies = false;
    options.timeoutSeconds = 10;
    const QByteArray body = net::httpRequest(version.toString(), options);
    if (options.status == 0)
        return refuse(QStringLiteral("the browser's debugging port does not answer"));
    const QString ws = QJsonDocument::fromJson(body).object().value(QStringLiteral("webSocketDebuggerUrl")).toString();
    if (options.status != 200 || ws.isEmpty())
        return refuse(QStringLiteral("the debugging port named no browser address (HTTP %1)").arg(options.status));
    return ws;
}
