#include "tests/support/sim_process.h"

#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace testsupport {

namespace {

// A headless browser on the profile prints the page at `url` and ends by
// itself. It is never cut short: a browser killed on its way out has not
// written its profile.
bool dumpPage(const QString &profileDir, const QString &url, const QStringList &flags, QByteArray *dom, QString *error)
{
    QProcess chromium;
    chromium.start(QStringLiteral("chromium"),
                   QStringList{"--headless=new", "--user-data-dir=" + profileDir, "--dump-dom"} + flags + QStringList{url});
    constexpr int kOwnEndMs = 180000;
    if (!chromium.waitForFinished(kOwnEndMs)) {
        if (error)
            *error = QStringLiteral("the browser for %1 did not end by itself: %2").arg(url, chromium.errorString());
        return false;
    }
    if (chromium.exitStatus() != QProcess::NormalExit || chromium.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("the browser for %1 ended with exit code %2 (%3)")
                         .arg(url)
                         .arg(chromium.exitCode())
                         .arg(chromium.exitStatus() == QProcess::NormalExit ? "normal exit" : "crashed");
        return false;
    }
    *dom = chromium.readAllStandardOutput();
    return true;
}

bool showsUser(const QByteArray &dom, const QString &user)
{
    return dom.contains("<span class=\"user-info__username\">" + user.toHtmlEscaped().toUtf8() + "</span>");
}

} // namespace

QByteArray SimResponse::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString SimProcess::defaultProgram()
{
    const QString fromEnv = qEnvironmentVariable("TOLVAR_STUDIO_SIM");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QDir(buildDir()).filePath(QStringLiteral("tools/studio-sim/studio-sim"));
}

SimProcess::SimProcess(const QStringList &knobs, const QString &dataDir, const QString &program)
    : m_dataDir(dataDir)
{
    if (m_dataDir.isEmpty()) {
        m_tempDir = std::make_unique<QTemporaryDir>();
        m_dataDir = m_tempDir->path();
    }
    QStringList args {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), m_dataDir};
    args += knobs;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program.isEmpty() ? defaultProgram() : program, args);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return;
    }
    // The first line names the port: "listening on http://127.0.0.1:PORT".
    QByteArray line;
    while (!line.contains('\n') && m_process.waitForReadyRead(30000))
        line += m_process.readAllStandardOutput();
    const QByteArray prefix = "listening on http://127.0.0.1:";
    if (!line.startsWith(prefix)) {
        m_error = QStringLiteral("unexpected first line: ") + QString::fromUtf8(line);
        return;
    }
    m_port = line.mid(prefix.size()).trimmed().toInt();
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::logInProfile(const QString &profileDir, const QString &user, const QStringList &browserFlags, QString *error) const
{
    QByteArray dom;
    if (!dumpPage(profileDir, url("/login?name=" + QString::fromLatin1(QUrl::toPercentEncoding(user))), browserFlags, &dom, error))
        return false;
    if (!showsUser(dom, user)) {
        if (error)
            *error = QStringLiteral("the studio did not show %1 after the login").arg(user);
        return false;
    }
    if (!dumpPage(profileDir, url("/upload"), browserFlags, &dom, error))
        return false;
    if (!showsUser(dom, user)) {
        if (error)
            *error = QStringLiteral("a browser started afresh on %1 was not logged in as %2").arg(profileDir, user);
        return false;
    }
    return true;
}

int SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    if (m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit)
        return m_process.exitCode();
    m_process.kill();
    m_process.waitForFinished(5000);
    return -1;
}

QString SimProcess::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QString SimProcess::url(const QString &pathAndQuery) const
{
    return origin() + pathAndQuery;
}

QList<QJsonObject> SimProcess::readJsonLines(const QString &name) const
{
    QList<QJsonObject> out;
    QFile f(QDir(m_dataDir).filePath(name));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            out.append(QJsonDocument::fromJson(line).object());
    }
    return out;
}

QList<QJsonObject> SimProcess::ledger() const
{
    return readJsonLines(QStringLiteral("published.jsonl"));
}

QList<QJsonObject> SimProcess::notifications() const
{
    return readJsonLines(QStringLiteral("notify.jsonl"));
}

SimResponse SimProcess::request(const QByteArray &method, const QByteArray &target, const QByteArray &body,
                                const QList<QPair<QByteArray, QByteArray>> &headers) const
{
    SimResponse response;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(m_port));
    if (!socket.waitForConnected(5000))
        return response;
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const auto &[key, value] : headers)
        head += key + ": " + value + "\r\n";
    if (!body.isEmpty() || method == "POST" || method == "PUT")
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket.write(head + "\r\n" + body);
    QByteArray raw;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        raw += socket.readAll();
    raw += socket.readAll();
    const qsizetype split = raw.indexOf("\r\n\r\n");
    if (split < 0)
        return response;
    const QList<QByteArray> lines = raw.left(split).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).split(' ');
    response.status = statusLine.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    response.body = raw.mid(split + 4);
    return response;
}

bool SimProcess::setKnobs(const QList<QPair<QString, QString>> &knobs) const
{
    QUrlQuery query;
    for (const auto &[name, value] : knobs)
        query.addQueryItem(name, value);
    const QByteArray target = "/__sim/knobs?" + query.toString(QUrl::FullyEncoded).toUtf8();
    // A literal plus would read as a space on the other side.
    return request("POST", QByteArray(target).replace("+", "%2B")).status == 200;
}

} // namespace testsupport
