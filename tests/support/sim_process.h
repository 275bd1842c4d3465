#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

struct SimResponse {
    int status = 0; // 0 = no answer
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const;
};

// The studio simulator as a child process: started with the given knobs on a
// free loopback port, stopped with SIGTERM when the object goes away.
class SimProcess final {
public:
    // An empty dataDir gives a fresh temporary one; an empty program uses defaultProgram().
    explicit SimProcess(const QStringList &knobs = {}, const QString &dataDir = {}, const QString &program = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    static QString defaultProgram();

    bool isRunning() const { return m_port > 0 && m_process.state() == QProcess::Running; }
    int port() const { return m_port; }
    QString origin() const;
    QString url(const QString &pathAndQuery) const;
    QString dataDir() const { return m_dataDir; }
    QString startError() const { return m_error; }

    // One JSON object per line of published.jsonl / notify.jsonl.
    QList<QJsonObject> ledger() const;
    QList<QJsonObject> notifications() const;

    // A plain HTTP/1.1 request to the simulator (Connection: close).
    SimResponse request(const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
                        const QList<QPair<QByteArray, QByteArray>> &headers = {}) const;
    // Flips knobs while running, e.g. setKnobs({{"stall-at", "50"}}).
    bool setKnobs(const QList<QPair<QString, QString>> &knobs) const;

    // Logs the browser profile in as `user` (a cookie that lasts) and makes
    // sure the login is in the profile: a headless browser opens the login
    // address and ends by itself (it writes its cookies on the way out), then
    // a browser started afresh on the profile must show the user. False with
    // the reason in `error` otherwise.
    bool logInProfile(const QString &profileDir, const QString &user, const QStringList &browserFlags, QString *error = nullptr) const;

    // Sends SIGTERM and waits; returns the exit code, or -1 when it had to be killed.
    int stop();

private:
    QList<QJsonObject> readJsonLines(const QString &name) const;

    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_dataDir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

} // namespace testsupport
