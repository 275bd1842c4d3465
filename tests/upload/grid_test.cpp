// Accounts on browsers elsewhere: a real Selenium Grid on loopback (a hub
// and two nodes with Debian's chromedriver, each pinned by its stereotype),
// and a Chromium the test starts with a debugging port.
#include "tests/upload/proxy_fixture.h"

#include "browser/browser_library.h"
#include "net/http_request.h"
#include "tests/support/eventually.h"
#include "tests/support/grid_process.h"
#include "upload/browser_session.h"

#include <QFile>
#include <QJsonArray>
#include <QScopeGuard>
#include <QRegularExpression>

#include <cstdio>

namespace {

class GridTest : public ProxyTest {
protected:
    void TearDown() override
    {
        ProxyTest::TearDown();
        m_job.reset();
        closeAllBrowsers();
        m_grid.reset();
    }

    // The Grid, and the run directory told about it: the nodes see the
    // shared video folder under another path.
    void startGrid()
    {
        m_grid = std::make_unique<testsupport::GridProcess>(m_run.file("grid"), QStringList{"a", "b"});
        QString error;
        ASSERT_TRUE(m_grid->start(&error)) << error.toStdString();
        QDir().mkpath(m_run.file("shared"));
        ASSERT_TRUE(QFile::link(m_run.file("shared"), m_run.file("node-view")));
        QByteArray ini = testsupport::readAll(m_run.file("data/services.ini"));
        ini += QStringLiteral("[grid]\nurl=%1\nprofile_root=%2\nvideo_root=%3\nnode_video_root=%4\nextra_args=--no-sandbox\n")
                   .arg(m_grid->url(), m_run.file("node-profiles"), m_run.file("shared"), m_run.file("node-view"))
                   .toUtf8();
        ASSERT_TRUE(testsupport::writeAll(m_run.file("data/services.ini"), ini));
    }
    void setBrowser(const QString &id, const QString &where)
    {
        AccountDocument doc;
        ASSERT_TRUE(doc.loadFile(accounts::accountFilePath(id)));
        doc.setValue("浏览器", where);
        ASSERT_TRUE(doc.saveFile(accounts::accountFilePath(id)));
    }
    // An account on `where`, logged in the way a user does it: its login
    // window (a page on the node's profile), the studio's login there, the
    // window closed again.
    QString addRemoteAccount(const QString &id, const QString &where, const QString &user)
    {
        const QString folder = addAccount(id, QString(), m_run.file("shared/" + id));
        setBrowser(id, where);
        if (user.isEmpty())
            return folder;
        BrowserSession session(m_form, m_table, BrowserLibrary::instance());
        BrowserLibrary &lib = BrowserLibrary::instance();
        const int page = session.openLoginWindow(m_table.rowCount() - 1, id);
        EXPECT_GT(page, 0) << "no login window on " << where.toStdString();
        if (page <= 0)
            return folder;
        EXPECT_TRUE(lib.form_forward_url(page, m_sim->url("/login?name=" + user)));
        EXPECT_TRUE(QTest::qWaitFor([&] { return lib.form_get_html(page).contains(user); }, 20000));
        lib.form_browser_close(lib.browserOfPage(page));
        return folder;
    }
    int nodeLogMentions(const QString &node, const QString &text) const
    {
        return static_cast<int>(testsupport::readAll(m_grid->nodeLog(node)).count(text.toUtf8()));
    }

    std::unique_ptr<testsupport::GridProcess> m_grid;
};

} // namespace

// Two accounts pinned to two nodes, two lanes: each video goes out under
// its own user, from a browser its own node started on the account's
// profile there; the login made in the login window outlived that session.
TEST_F(GridTest, TwoAccountsOnTwoNodesPublishEachUnderTheLoginKeptOnItsNode)
{
    startSimulator();
    startGrid();
    const QByteArray clipA = sha256Of(makeClip(addRemoteAccount("101", "grid:a", "nodeUserA") + "/a.mp4"));
    const QByteArray clipB = sha256Of(makeClip(addRemoteAccount("102", "grid:b", "nodeUserB") + "/b.mp4"));
    m_form.setText("编辑框_同时账号数", "2");
    ASSERT_TRUE(runUntilDone(240000));
    ASSERT_EQ(ledger().size(), 2) << runReport().toStdString();
    for (const QJsonObject &e : ledger()) {
        const QByteArray sha = e.value("file_sha256").toString().toLatin1();
        EXPECT_EQ(e.value("user").toString(), sha == clipA ? "nodeUserA" : "nodeUserB");
        EXPECT_TRUE(sha == clipA || sha == clipB);
    }
    // Each node started browsers on its own account's profile only: the
    // login window's session and the job's.
    EXPECT_EQ(nodeLogMentions("a", "tolvar101"), 2);
    EXPECT_EQ(nodeLogMentions("a", "tolvar102"), 0);
    EXPECT_EQ(nodeLogMentions("b", "tolvar102"), 2);
    EXPECT_EQ(nodeLogMentions("b", "tolvar101"), 0);
    // Both videos are gone from the shared folder, and no session is left.
    EXPECT_FALSE(QFile::exists(m_run.file("shared/101/a.mp4")));
    EXPECT_FALSE(QFile::exists(m_run.file("shared/102/b.mp4")));
    ASSERT_EVENTUALLY_EQ(m_grid->sessionCount(), 0, 20000);
}

// A node that goes away mid-upload fails that attempt within seconds; the
// video stays, nothing goes out twice, and the other node's account goes on.
// A node the Grid does not know fails its account at once, never locally.
TEST_F(GridTest, ANodeThatDiesMidUploadFailsItsAttemptFastAndTheOtherNodeGoesOn)
{
    startSimulator({"--stall-at", "50", "--stall-name", "stalls"});
    startGrid();
    makeClip(addRemoteAccount("101", "grid:a", "doomedUser") + "/stalls.mp4");
    const QByteArray clipB = sha256Of(makeClip(addRemoteAccount("102", "grid:b", "survivorUser") + "/b.mp4"));
    makeClip(addRemoteAccount("103", "grid:nowhere", QString()) + "/c.mp4");
    const int mark = requestCount();
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    pressStartStop();
    QElapsedTimer clock;
    clock.start();
    bool uploading = false;
    while (!uploading && clock.elapsed() < 90000) {
        for (const QJsonObject &r : requests(mark))
            uploading = uploading || (r.value("user").toString() == "doomedUser" && r.value("path").toString().startsWith("/api/upload/chunk"));
        QTest::qWait(100);
    }
    ASSERT_TRUE(uploading);
    QTest::qWait(1000);
    m_grid->killNode("a");
    QElapsedTimer failing;
    failing.start();
    ASSERT_EVENTUALLY_EQ(m_table.cell(0, AccountTable::Status), QString("浏览器节点不可用"), 120000);
    std::printf("a node killed mid-upload: its attempt failed %lld ms later\n", static_cast<long long>(failing.elapsed()));
    EXPECT_LT(failing.elapsed(), 15000);
    ASSERT_TRUE(done.wait(240000));
    EXPECT_TRUE(QFile::exists(m_run.file("shared/101/stalls.mp4")));
    ASSERT_EQ(ledger().size(), 1) << runReport().toStdString();
    EXPECT_EQ(ledger().first().value("user").toString(), "survivorUser");
    EXPECT_EQ(ledger().first().value("file_sha256").toString().toLatin1(), clipB);
    EXPECT_EQ(m_table.cell(2, AccountTable::Status), "浏览器节点不可用");
    EXPECT_TRUE(QFile::exists(m_run.file("shared/103/c.mp4")));
    EXPECT_EQ(runReport().count("browser node failed"), 2) << runReport().toStdString();
    // No browser of this machine ever started for them.
    for (const char *id : {"101", "103"})
        EXPECT_FALSE(QDir(BrowserSession::profileDirectory(id)).exists()) << id;
}

// An account with a proxy on a node: every request of its user comes from
// the proxy's address; a wrong password fails fast and the studio sees
// nothing of the account.
TEST_F(GridTest, AProxiedAccountOnANodeGoesOutOnlyThroughItsProxy)
{
    startSimulatorWithProxies();
    startGrid();
    makeClip(addRemoteAccount("101", "grid:a", "proxiedUser") + "/a.mp4");
    setProxy("101", tinyproxyUrl(kPassword));
    const int mark = requestCount();
    ASSERT_TRUE(runUntilDone(180000));
    ASSERT_EQ(ledger().size(), 1) << runReport().toStdString();
    EXPECT_EQ(ledger().first().value("user").toString(), "proxiedUser");
    EXPECT_EQ(clientsOf("proxiedUser", mark), QSet<QString>{"127.0.0.2"});

    makeClip(m_run.file("shared/101/b.mp4"));
    setProxy("101", tinyproxyUrl("not-the-password"));
    const int later = requestCount();
    QElapsedTimer clock;
    clock.start();
    pressStartStop();
    ASSERT_EVENTUALLY(!m_job->isRunning(), 20000);
    ASSERT_TRUE(runUntilDone(60000));
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "代理不可用");
    EXPECT_EQ(ledger().size(), 1);
    EXPECT_TRUE(clientsOf("proxiedUser", later).isEmpty());
}

// The user's own Chromium with a debugging port: attached over its
// WebSocket, it publishes in a tab of ours and keeps running, with the
// user's own tab, when the run is over.
TEST_F(GridTest, AnEndpointBrowserPublishesAndIsLeftRunning)
{
    startSimulator();
    const QString profile = m_run.file("own-chromium");
    QString error;
    ASSERT_TRUE(m_sim->logInProfile(profile, "endpointUser", {"--no-sandbox", "--disable-gpu", "--no-first-run"}, &error)) << error.toStdString();
    QProcess chromium;
    chromium.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    chromium.start("chromium", {"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--remote-debugging-address=127.0.0.1",
                                "--remote-debugging-port=0", "--user-data-dir=" + profile, "about:blank"});
    ASSERT_TRUE(chromium.waitForStarted(10000));
    const auto stopChromium = qScopeGuard([&] {
        chromium.kill();
        chromium.waitForFinished(5000);
    });
    QString port;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        port = QString::fromLatin1(testsupport::readAll(profile + "/DevToolsActivePort")).section('\n', 0, 0).trimmed();
        return !port.isEmpty();
    }, 20000));
    const QString folder = addAccount("104", QString(), m_run.file("videos/104"));
    setBrowser("104", "http://127.0.0.1:" + port);
    makeClip(folder + "/a.mp4");
    ASSERT_TRUE(runUntilDone(120000));
    ASSERT_EQ(ledger().size(), 1) << runReport().toStdString();
    EXPECT_EQ(ledger().first().value("user").toString(), "endpointUser");
    EXPECT_EQ(chromium.state(), QProcess::Running);
    // Our tab is closed again; the user's own page is still there.
    QStringList pages;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        net::HttpRequestOptions options;
        options.completeHeaders = false;
        pages.clear();
        for (const QJsonValue &target : QJsonDocument::fromJson(net::httpRequest("http://127.0.0.1:" + port + "/json/list", options)).array())
            if (target.toObject().value("type").toString() == "page")
                pages << target.toObject().value("url").toString();
        return pages.size() == 1;
    }, 10000)) << pages.join(' ').toStdString();
    EXPECT_EQ(pages, QStringList{"about:blank"});
    EXPECT_FALSE(QDir(BrowserSession::profileDirectory("104")).exists());
}
