// Accounts behind their own proxies: Debian's tinyproxy (HTTP with a login)
// and microsocks (SOCKS5), each leaving from its own loopback address, real
// headless Chromium and the simulator, which logs every request's client.
#include "tests/upload/proxy_fixture.h"

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
