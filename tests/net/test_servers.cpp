#include "tests/net/test_servers.h"

#include <QProcess>
#include <QTcpServer>

#include <cstdlib>

namespace nettest {

namespace {

// A self-signed certificate for a name that is not the server's: the clients
// under test must take it anyway.
bool makeCertificate(const QString &dir)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=wrong.example"),
                   QStringLiteral("-keyout"), dir + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   dir + QStringLiteral("/cert.pem")});
    return openssl.waitForFinished(20000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

} // namespace

void bypassProxies()
{
    qputenv("no_proxy", "*");
    qputenv("NO_PROXY", "*");
}

HttpTestServer::HttpTestServer(const std::function<void(httplib::Server &)> &routes, Kind kind)
{
    bypassProxies();
    if (kind == Kind::Https) {
        const QByteArray dir = m_certificates.path().toLocal8Bit();
        if (!makeCertificate(m_certificates.path()))
            return;
        m_server = std::make_unique<httplib::SSLServer>((dir + "/cert.pem").constData(), (dir + "/key.pem").constData());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    routes(*m_server);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only reaches a server that is already listening.
    for (int i = 0; i < 5000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpTestServer::~HttpTestServer()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

QString HttpTestServer::url(const QString &path) const
{
    const bool tls = dynamic_cast<httplib::SSLServer *>(m_server.get()) != nullptr;
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(tls ? QStringLiteral("https") : QStringLiteral("http")).arg(m_port).arg(path);
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace nettest
