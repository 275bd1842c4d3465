// The connection over a WebSocket, against a stand-in browser: a
// QWebSocketServer on loopback on a thread of its own. No browser needed, so
// this also runs under Wine and ThreadSanitizer.
#include "browser/cdp_connection.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

namespace {

// Answers every call with {"method": its method} after an event of the same
// session, except "Peer.hang", which it never answers; "Peer.drop" makes it
// close the connection. Records the Authorization header it was opened with.
class StandInBrowser {
public:
    StandInBrowser()
    {
        std::promise<quint16> port;
        m_thread = std::thread([this, &port] { run(port); });
        m_port = port.get_future().get();
    }
    ~StandInBrowser()
    {
        m_command = Quit;
        m_thread.join();
    }
    QString url() const { return QStringLiteral("ws://127.0.0.1:%1/devtools/browser/stand-in").arg(m_port); }
    QByteArray authorization()
    {
        std::lock_guard lock(m_mutex);
        return m_authorization;
    }
    void drop() { m_command = Drop; }

private:
    void run(std::promise<quint16> &port)
    {
        QEventLoop loop;
        QWebSocketServer server(QStringLiteral("stand-in"), QWebSocketServer::NonSecureMode);
        server.listen(QHostAddress::LocalHost, 0);
        // Commands from the test's thread arrive as an atomic the thread
        // polls, so that nothing of the test's crosses over inside Qt.
        QTimer commands;
        QObject::connect(&commands, &QTimer::timeout, [&] {
            const int command = m_command.exchange(None);
            if (command == Drop)
                for (QWebSocket *s : m_sockets)
                    s->close();
            if (command == Quit)
                loop.quit();
        });
        commands.start(10);
        QObject::connect(&server, &QWebSocketServer::newConnection, [&] {
            QWebSocket *socket = server.nextPendingConnection();
            m_sockets.append(socket);
            {
                std::lock_guard lock(m_mutex);
                m_authorization = socket->request().rawHeader("Authorization");
            }
            QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [socket](const QString &text) {
                const QJsonObject call = QJsonDocument::fromJson(text.toUtf8()).object();
                const QString method = call.value("method").toString();
                if (method == QLatin1String("Peer.hang"))
                    return;
                if (method == QLatin1String("Peer.drop")) {
                    socket->close();
                    return;
                }
                QJsonObject event{{"method", "Peer.event"}, {"params", QJsonObject{{"for", method}}}};
                QJsonObject answer{{"id", call.value("id")}, {"result", QJsonObject{{"method", method}}}};
                if (call.contains("sessionId")) {
                    event.insert("sessionId", call.value("sessionId"));
                    answer.insert("sessionId", call.value("sessionId"));
                }
                socket->sendTextMessage(QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
                socket->sendTextMessage(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)));
            });
        });
        port.set_value(server.serverPort());
        loop.exec();
        qDeleteAll(m_sockets);
    }

    std::thread m_thread;
    quint16 m_port = 0;
    enum Command { None, Drop, Quit };
    std::atomic<int> m_command{None};
    QList<QWebSocket *> m_sockets; // the server thread's own
    std::mutex m_mutex;
    QByteArray m_authorization;
};

} // namespace

TEST(CdpOverWebSocket, CallsFromManyThreadsAndEventsTravelAndAPeerThatGoesAwayFailsWhatIsPendingAtOnce)
{
    StandInBrowser peer;
    CdpConnection connection;
    std::atomic<int> events{0};
    std::atomic<int> closes{0};
    connection.setEventHandler([&](std::string_view method, const rapidjson::Value &, const std::string &) {
        if (method == "Peer.event")
            ++events;
    });
    connection.setCloseHandler([&] { ++closes; });
    QString why;
    // Generous: under Wine the first socket of a process reads the host's
    // root certificates into Windows' store, about 3 s on an idle machine.
    ASSERT_TRUE(connection.attach(peer.url(), {{"Authorization", "Basic dTpw"}}, 30000, &why)) << why.toStdString();
    EXPECT_EQ(peer.authorization(), "Basic dTpw");

    std::vector<std::thread> callers;
    std::atomic<int> answered{0};
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string method = "Echo.t" + std::to_string(t) + "n" + std::to_string(i);
                const CdpReply reply = connection.call(method, {}, t % 2 ? "session-" + std::to_string(t) : std::string(), 5000);
                const auto it = reply.result().FindMember("method");
                if (reply.ok && it != reply.result().MemberEnd() && method == it->value.GetString())
                    ++answered;
            }
        });
    }
    for (auto &c : callers)
        c.join();
    EXPECT_EQ(answered.load(), 100);
    EXPECT_EQ(events.load(), 100);

    // A call the peer never answers fails as soon as the connection goes,
    // not at its time-out; the close is told once.
    auto pending = std::async(std::launch::async, [&] { return connection.call("Peer.hang", {}, {}, 30000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto dropped = std::chrono::steady_clock::now();
    peer.drop();
    const CdpReply reply = pending.get();
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "closed");
    EXPECT_LT(std::chrono::steady_clock::now() - dropped, std::chrono::seconds(3));
    connection.close(0);
    EXPECT_EQ(closes.load(), 1);
    EXPECT_FALSE(connection.isOpen());
}

TEST(CdpOverWebSocket, AnAddressNobodyAnswersFailsAtOnceWithItsReason)
{
    quint16 port = 0;
    {
        QWebSocketServer probe(QStringLiteral("probe"), QWebSocketServer::NonSecureMode);
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    CdpConnection connection;
    QString why;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection.attach(QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x").arg(port), {}, 10000, &why));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(connection.call("Browser.getVersion", {}, {}, 1000).ok);
    EXPECT_FALSE(connection.attach(QStringLiteral("http://127.0.0.1:%1/").arg(port), {}, 1000, &why)) << "only ws:// and wss:// attach";
}
