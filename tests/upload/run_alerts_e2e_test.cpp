// Alerts of unattended runs, received by a webhook of the test's own on
// loopback while real runs go on against the simulator.
#include "tests/upload/e2e_fixture.h"
#include "tests/support/test_main.h"

#include "upload/run_alerts.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <atomic>
#include <mutex>
#include <thread>

namespace {
// Keeps what is posted to /hook and answers with `status`.
class Webhook final {
public:
    explicit Webhook(int status)
    {
        m_server.Post("/hook", [this, status](const httplib::Request &req, httplib::Response &res) {
            {
                const std::lock_guard lock(m_mutex);
                m_bodies.append(QByteArray::fromStdString(req.body));
            }
            res.status = status;
            res.set_content("{}", "application/json");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_serving = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~Webhook()
    {
        m_server.stop();
        m_serving.join();
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/hook?key=k1").arg(m_port); }
    QList<QByteArray> bodies() const
    {
        const std::lock_guard lock(m_mutex);
        return m_bodies;
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_serving;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_bodies;
};

void sendAlertsTo(const testsupport::TempRunDir &run, const QString &url)
{
    const QString ini = run.file("data/services.ini");
    testsupport::writeAll(ini, testsupport::readAll(ini) + "[alert]\nwebhook=" + url.toUtf8() + "\nformat=json\n");
}
} // namespace

// Looping, the logged-out account is tried in each pass; the group hears of
// it once.
TEST_F(UploadE2eTest, ALoggedOutAccountTriedTwiceAlertsTheGroupOnce)
{
    Webhook hook(200);
    startSimulator();
    sendAlertsTo(m_run, hook.url());
    const QString out = addAccount("300", "", m_run.file("videos/out"));
    makeClip(out + "/never.mp4");
    const QString in = addAccount("301", "fay", m_run.file("videos/in"));
    makeClip(in + "/ok.mp4");
    m_form.setChecked("选择框_自动循环", true);
    std::atomic<int> loggedOutTries{0};
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int row) {
        if (row == 0)
            ++loggedOutTries;
    }, Qt::DirectConnection);
    pressStartStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loggedOutTries >= 2; }, 120000));
    pressStartStop();
    m_job->waitUntilStopped();
    ASSERT_TRUE(runalerts::waitForPosts(15000));

    const QList<QByteArray> bodies = hook.bodies();
    ASSERT_EQ(bodies.size(), 1);
    const QJsonObject alert = QJsonDocument::fromJson(bodies[0]).object();
    EXPECT_EQ(alert.value("cause").toString(), "login_expired");
    EXPECT_EQ(alert.value("account").toString(), "300");
    EXPECT_TRUE(alert.value("text").toString().contains(QSysInfo::machineHostName())) << bodies[0].toStdString();
    EXPECT_TRUE(alert.value("text").toString().contains("300")) << bodies[0].toStdString();
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "未登录");
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("user").toString(), "fay");
}

// A webhook that fails is logged and the run goes on as without one.
TEST_F(UploadE2eTest, AWebhookAnswering500LeavesTheRunToPublish)
{
    Webhook hook(500);
    startSimulator();
    sendAlertsTo(m_run, hook.url());
    const QString out = addAccount("310", "", m_run.file("videos/out"));
    makeClip(out + "/never.mp4");
    const QString in = addAccount("311", "gus", m_run.file("videos/in"));
    makeClip(in + "/ok.mp4");
    testsupport::LogCapture log;
    ASSERT_TRUE(runUntilDone());
    ASSERT_TRUE(runalerts::waitForPosts(15000));

    EXPECT_EQ(hook.bodies().size(), 1);
    EXPECT_EQ(log.linesWith({"tolvar.upload", "login_expired of account 310", "answered HTTP 500"}).size(), 1) << log.lines().join('\n').toStdString();
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("user").toString(), "gus");
}
