// Accounts behind their own proxies: Debian's tinyproxy (HTTP with a login)
// and microsocks (SOCKS5), each leaving from its own loopback address, real
// headless Chromium and the simulator, which logs every request's client.
#include "tests/upload/e2e_fixture.h"

#include "accounts/account_commands.h"
#include "accounts/account_document.h"
#include "accounts/account_store.h"
#include "form/command_registry.h"
#include "tests/support/test_main.h"
#include "upload/run_report.h"
#include "tests/support/eventually.h"

#include <QDate>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kPassword[] = "s3cret-Pw";

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

bool listens(int port)
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

} // namespace

// Two lanes, two accounts, two proxies: each user's every request came from
// its own proxy's address and none straight from the machine.
TEST_F(ProxyTest, TwoAccountsPublishAtOnceEachThroughItsOwnProxy)
{
    startSimulatorWithProxies();
    const QString clipA = makeClip(addAccount("100", "viaHttp", m_run.file("videos/100")) + "/a.mp4");
    const QString clipB = makeClip(addAccount("101", "viaSocks", m_run.file("videos/101")) + "/b.mp4");
    setProxy("100", tinyproxyUrl(kPassword));
    setProxy("101", socksUrl());
    const int mark = requestCount(); // the logins of the set-up went direct
    m_form.setText("编辑框_同时账号数", "2");
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone(240000));

    QSet<QString> users;
    for (const QJsonObject &e : ledger())
        users.insert(e.value("user").toString());
    EXPECT_EQ(users, (QSet<QString>{"viaHttp", "viaSocks"}));
    EXPECT_EQ(clientsOf("viaHttp", mark), QSet<QString>{"127.0.0.2"});
    EXPECT_EQ(clientsOf("viaSocks", mark), QSet<QString>{"127.0.0.3"});
    EXPECT_TRUE(log.linesWith({kPassword}).isEmpty()) << log.linesWith({kPassword}).join('\n').toStdString();
}

// A wrong password fails the attempt within seconds, before the browser
// goes anywhere: the studio sees nothing of the account.
TEST_F(ProxyTest, AWrongPasswordFailsAtOnceAndTheStudioSeesNothingOfTheAccount)
{
    startSimulatorWithProxies();
    makeClip(addAccount("100", "wrongPw", m_run.file("videos/100")) + "/a.mp4");
    setProxy("100", tinyproxyUrl("not-the-password"));
    const int mark = requestCount();
    QElapsedTimer clock;
    clock.start();
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone(60000));
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "代理不可用");
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(clientsOf("wrongPw", mark).isEmpty());
    EXPECT_TRUE(runReport().contains("proxy failed")) << runReport().toStdString();
    EXPECT_TRUE(log.linesWith({"not-the-password"}).isEmpty());
}

// The proxy goes away while the file is on its way: the attempt fails as a
// proxy failure and nothing of the account reaches the studio directly; once
// it is back, the next attempt publishes through it.
TEST_F(ProxyTest, AProxyThatStopsMidUploadFailsTheAttemptAndNeverFallsBackToDirect)
{
    startSimulatorWithProxies({"--stall-at", "50"});
    makeClip(addAccount("100", "midway", m_run.file("videos/100")) + "/a.mp4");
    setProxy("100", tinyproxyUrl(kPassword));
    const int mark = requestCount();
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    pressStartStop();
    QElapsedTimer clock;
    clock.start();
    bool uploading = false;
    while (!uploading && clock.elapsed() < 60000) {
        for (const QJsonObject &r : requests(mark))
            uploading = uploading || (r.value("user").toString() == "midway" && r.value("path").toString().startsWith("/api/upload/chunk"));
        QTest::qWait(100);
    }
    ASSERT_TRUE(uploading);
    stopProxy(m_tinyproxy);
    QElapsedTimer failing;
    failing.start();
    ASSERT_EVENTUALLY_EQ(m_table.cell(0, AccountTable::Status), QString("代理不可用"), 120000);
    // Soon after the upload stands still, not when the page gives up its retries.
    EXPECT_LT(failing.elapsed(), 15000);
    ASSERT_TRUE(done.wait(120000));
    EXPECT_TRUE(runReport().contains("proxy failed"));
    EXPECT_FALSE(runReport().contains(",failed,")) << "counted as a file the studio refused: " << runReport().toStdString();
    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_EQ(clientsOf("midway", mark), QSet<QString>{"127.0.0.2"});

    // With the proxy back, the next attempt publishes through it.
    m_sim->setKnobs({{"stall-at", "-1"}});
    startTinyproxy();
    pressStartStop(); // the ended run still shows 停止
    ASSERT_EVENTUALLY(!m_job->isRunning(), 20000);
    ASSERT_TRUE(runUntilDone(120000));
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger().first().value("user").toString(), "midway");
    EXPECT_EQ(clientsOf("midway", mark), QSet<QString>{"127.0.0.2"});
}

// "检测代理" from the list: a working proxy, a wrong password, a stopped one.
TEST_F(ProxyTest, TheCheckCommandTellsAWorkingAStoppedAndARefusingProxyApart)
{
    startSimulatorWithProxies();
    addAccount("100", QString(), m_run.file("videos/100"));
    CommandRegistry registry(m_form);
    AccountCommands commands(m_form, m_table, registry);
    setProxy("100", tinyproxyUrl(kPassword));
    EXPECT_TRUE(commands.checkProxy(0, "100").startsWith("代理可用 ")) << m_table.cell(0, AccountTable::Status).toStdString();
    EXPECT_TRUE(m_table.cell(0, AccountTable::Status).endsWith("ms"));
    setProxy("100", socksUrl());
    EXPECT_TRUE(commands.checkProxy(0, "100").startsWith("代理可用 "));
    setProxy("100", tinyproxyUrl("nope"));
    EXPECT_EQ(commands.checkProxy(0, "100"), "代理不可用：代理用户名或密码错误");
    stopProxy(m_microsocks);
    setProxy("100", socksUrl());
    EXPECT_EQ(commands.checkProxy(0, "100"), "代理不可用：连接被拒绝");
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "代理不可用：连接被拒绝");
}

// Accounts behind a proxy whose files went bad before their turn (a sync
// tool's half-written copy, a file gone): neither account goes to the studio
// at all, least of all from the machine's own address, and each attempt is a
// proxy failure that says why.
TEST_F(ProxyTest, AnAccountWhoseFileCannotBeReadNeverGoesDirect)
{
    startSimulatorWithProxies();
    makeClip(addAccount("100", "halfWritten", m_run.file("videos/100")) + "/a.mp4");
    makeClip(addAccount("101", "fileGone", m_run.file("videos/101")) + "/b.mp4");
    setProxy("100", tinyproxyUrl(kPassword));
    setProxy("101", socksUrl());
    const QByteArray whole = testsupport::readAll(accounts::accountFilePath("100"));
    ASSERT_TRUE(testsupport::writeAll(accounts::accountFilePath("100"), whole.left(whole.size() / 2)));
    ASSERT_TRUE(QFile::remove(accounts::accountFilePath("101")));
    const int mark = requestCount();
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone(60000));

    EXPECT_TRUE(ledger().isEmpty());
    EXPECT_TRUE(clientsOf("halfWritten", mark).isEmpty()) << QStringList(clientsOf("halfWritten", mark).values()).join(',').toStdString();
    EXPECT_TRUE(clientsOf("fileGone", mark).isEmpty()) << QStringList(clientsOf("fileGone", mark).values()).join(',').toStdString();
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "代理不可用");
    EXPECT_EQ(m_table.cell(1, AccountTable::Status), "代理不可用");
    const QStringList lines = runReport().split('\n');
    const auto reportLine = [&lines](const QString &video) {
        for (const QString &line : lines)
            if (line.contains(video))
                return line;
        return QString();
    };
    EXPECT_TRUE(reportLine("a.mp4").contains("proxy failed") && reportLine("a.mp4").contains("is no JSON")) << reportLine("a.mp4").toStdString();
    EXPECT_TRUE(reportLine("b.mp4").contains("proxy failed") && reportLine("b.mp4").contains("cannot read the account file")) << reportLine("b.mp4").toStdString();
    EXPECT_FALSE(log.linesWith({"tolvar.upload", "100", "the proxy cannot be known", "is no JSON"}).isEmpty()) << log.lines().join('\n').toStdString();
    EXPECT_FALSE(log.linesWith({"tolvar.upload", "101", "the proxy cannot be known", "cannot read the account file"}).isEmpty());
}
