#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

struct ServiceConfig;

// One Selenium Grid session: a Chrome on one node, pinned there by the
// capability "tolvar:node" that the node's stereotype carries, driven over
// the DevTools WebSocket the Grid hands back ("se:cdp"). The session is kept
// alive while it is in use and ended with a DELETE.
class GridSession final {
public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;

    explicit GridSession(const ServiceConfig &config);
    ~GridSession(); // ends the session
    GridSession(const GridSession &) = delete;
    GridSession &operator=(const GridSession &) = delete;

    // Asks for a browser on `node` with the command line `args`. False, with
    // the reason in *why, when the Grid cannot be reached, knows no such
    // node, has no free slot on it, or does not start the browser in time.
    bool start(const QString &node, const QStringList &args, QString *why);
    QString id() const { return m_id; }
    QString node() const { return m_node; }
    // The browser-wide DevTools WebSocket address of the session.
    QString cdpUrl() const { return m_cdpUrl; }
    // The request headers the Grid's router wants (its basic authentication).
    Headers headers() const;
    // The Grid said the session is gone (its node died), or stopped answering.
    bool lost() const { return m_lost; }
    // Called once, on the session's own keep-alive thread, when it is lost.
    // Set before start().
    void setOnLost(std::function<void()> onLost) { m_onLost = std::move(onLost); }
    void end();

    // The profile folder of the account on the nodes: profile_root + tolvar<id>.
    static QString nodeProfile(const QString &profileRoot, const QString &cacheId);
    // The path under which the node sees a file of the shared video folder;
    // "" (reason in *why) for a file outside it.
    static QString nodePath(const QString &localPath, const QString &videoRoot, const QString &nodeVideoRoot, QString *why);
    // The router's address as the log may show it (no user, no password).
    QString routerForLog() const;

private:
    // One exchange with the router; the status, with the body in *body.
    int exchange(int method, const QString &path, const QByteArray &body, int timeoutSeconds, QByteArray *reply) const;
    // "" when the node has a free slot; else why not.
    QString nodeUnavailable(const QString &node) const;
    void keepAlive();

    QString m_router;
    QString m_user;
    QString m_password;
    int m_newSessionSeconds = 60;
    QString m_id;
    QString m_node;
    QString m_cdpUrl;
    std::atomic<bool> m_lost{false};
    std::thread m_keeper;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_ending = false;
    std::function<void()> m_onLost;
};

// The browser-wide DevTools WebSocket address of a debugging endpoint: a
// ws:// or wss:// address as it stands, or, for http://host:port, the one
// its /json/version names. "" (reason in *why) when it does not answer.
QString devToolsWebSocketOf(const QString &endpoint, QString *why);
