#pragma once

// Accounts behind their own proxies: Debian's tinyproxy (HTTP with a login)
// and microsocks (SOCKS5), each leaving from its own loopback address, real
// headless Chromium and the simulator, which logs every request's client.
#include "tests/upload/e2e_fixture.h"

#include "accounts/account_document.h"
#include "accounts/account_store.h"
#include "upload/run_report.h"

#include <QDate>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

inline constexpr char kPassword[] = "s3cret-Pw";

inline sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

inline int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

inline bool listens(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

class ProxyTest : public UploadE2eTest {
protected:
    void TearDown() override
    {
        // Never leave a proxy running, whatever the test did.
        stopProxy(m_tinyproxy);
        stopProxy(m_microsocks);
    }

    void startSimulatorWithProxies(const QStringList &knobs = {})
    {
        startSimulator(knobs);
        // Chromium sends loopback addresses past any proxy unless told.
        QByteArray ini = testsupport::readAll(m_run.file("data/services.ini"));
        ini.replace("extra_args=", "extra_args=--proxy-bypass-list=<-loopback> ");
        ASSERT_TRUE(testsupport::writeAll(m_run.file("data/services.ini"), ini));
        m_tinyPort = freePort();
        m_socksPort = freePort();
        // The password goes into the proxy's own file, never onto a command line.
        const QString conf = QStringLiteral("Port %1\nListen 127.0.0.1\nBind 127.0.0.2\nTimeout 60\nMaxClients 100\nLogLevel Error\n"
                                            "LogFile \"%2\"\nBasicAuth alice %3\n")
                                 .arg(m_tinyPort)
                                 .arg(m_run.file("tinyproxy.log"), kPassword);
        ASSERT_TRUE(testsupport::writeAll(m_run.file("tinyproxy.conf"), conf.toUtf8()));
        startTinyproxy();
        startMicrosocks();
    }
    void startTinyproxy() { startProxy(m_tinyproxy, "tinyproxy", {"-d", "-c", m_run.file("tinyproxy.conf")}, m_tinyPort); }
    void startMicrosocks()
    {
        startProxy(m_microsocks, "microsocks", {"-i", "127.0.0.1", "-p", QString::number(m_socksPort), "-b", "127.0.0.3"}, m_socksPort);
    }
    void startProxy(std::unique_ptr<QProcess> &process, const QString &program, const QStringList &args, int port)
    {
        process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, args);
        ASSERT_TRUE(process->waitForStarted(5000)) << program.toStdString() << " is not installed (scripts/setup-debian.sh)";
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (listens(port))
                return;
            QTest::qWait(50);
        }
        FAIL() << program.toStdString() << " does not listen on " << port;
    }
    static void stopProxy(std::unique_ptr<QProcess> &process)
    {
        if (!process)
            return;
        process->kill();
        process->waitForFinished(5000);
        process.reset();
    }
    QString tinyproxyUrl(const QString &password) const
    {
        return QStringLiteral("http://alice:%1@127.0.0.1:%2").arg(password).arg(m_tinyPort);
    }
    QString socksUrl() const { return QStringLiteral("socks5://127.0.0.1:%1").arg(m_socksPort); }

    void setProxy(const QString &id, const QString &proxy)
    {
        AccountDocument doc;
        ASSERT_TRUE(doc.loadFile(accounts::accountFilePath(id)));
        doc.setValue("代理", proxy);
        ASSERT_TRUE(doc.saveFile(accounts::accountFilePath(id)));
    }
    // The simulator's request log from line `from` on.
    QList<QJsonObject> requests(int from = 0) const
    {
        QList<QJsonObject> out;
        const QList<QByteArray> lines = testsupport::readAll(m_sim->dataDir() + "/requests.jsonl").split('\n');
        for (int i = from; i < lines.size(); ++i)
            if (!lines[i].trimmed().isEmpty())
                out.append(QJsonDocument::fromJson(lines[i]).object());
        return out;
    }
    int requestCount() const { return static_cast<int>(requests().size()); }
    // Clients that requests of `user` came from, from line `from` on.
    QSet<QString> clientsOf(const QString &user, int from) const
    {
        QSet<QString> clients;
        for (const QJsonObject &r : requests(from))
            if (r.value("user").toString() == user)
                clients.insert(r.value("client").toString());
        return clients;
    }
    QString runReport() const { return QString::fromUtf8(testsupport::readAll(runreport::reportPath(QDate::currentDate()))); }

    std::unique_ptr<QProcess> m_tinyproxy;
    std::unique_ptr<QProcess> m_microsocks;
    int m_tinyPort = 0;
    int m_socksPort = 0;
};

