#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>

namespace testsupport {

// A Selenium Grid on loopback: a hub and one node per name, each node with
// Debian's chromedriver and a stereotype {"tolvar:node": name} that pins
// sessions to it. Java, the jar and chromedriver come from
// scripts/setup-debian.sh. Everything is stopped when the object goes away.
class GridProcess final {
public:
    // Logs and node configurations go into `dir`.
    GridProcess(const QString &dir, const QStringList &nodes);
    ~GridProcess();
    GridProcess(const GridProcess &) = delete;
    GridProcess &operator=(const GridProcess &) = delete;

    // Starts the hub and the nodes and waits until every node offers its
    // slots; false with the reason otherwise.
    bool start(QString *error);
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_hubPort); }
    // Ends the node at once with everything it started (driver, browser), as
    // when its machine goes away.
    void killNode(const QString &name);
    QString nodeLog(const QString &name) const;
    // The Grid's sessions now (from its status).
    int sessionCount() const;

    static QString jarPath();

private:
    bool startJava(std::unique_ptr<QProcess> &process, const QStringList &args, const QString &log, QString *error);
    static void stop(std::unique_ptr<QProcess> &process);

    QString m_dir;
    QStringList m_nodes;
    int m_hubPort = 0;
    std::unique_ptr<QProcess> m_hub;
    std::map<QString, std::unique_ptr<QProcess>> m_nodeProcesses;
};

} // namespace testsupport
