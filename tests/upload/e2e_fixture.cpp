#include "tests/upload/e2e_fixture.h"

#include "accounts/account_document.h"
#include "accounts/account_store.h"
#include "form/window_layout.h"
#include "browser/browser_library.h"
#include "upload/browser_session.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {
const QStringList kBrowserFlags = {
    "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync",
};
int g_clipNumber = 0;
} // namespace

UploadE2eTest::UploadE2eTest()
{
    declareControls(m_form, mainWindowLayout());
    m_form.setText("编辑框_视频间隔", "0");
    m_form.setChecked("选择框_自动循环", false);
    m_form.setChecked("单选框_选择视频_顺序", true);
    accountDocument().clear();
    currentRow = 0;
    m_job = std::make_unique<UploadJob>(m_form, m_table, BrowserLibrary::instance());
    // Runs on the job thread just before the video is deleted or moved.
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [this](int, const QString &path, bool ok) {
        if (ok && !ledgerHoldsFile(sha256Of(path)))
            m_disposedTooEarly.append(path);
    }, Qt::DirectConnection);
}

UploadE2eTest::~UploadE2eTest()
{
    m_job.reset();
    closeAllBrowsers();
    EXPECT_TRUE(m_disposedTooEarly.isEmpty()) << m_disposedTooEarly.join(", ").toStdString();
}

void UploadE2eTest::closeAllBrowsers()
{
    BrowserLibrary &lib = BrowserLibrary::instance();
    // By the browser: one whose pages all closed or crashed has none to close it by.
    for (int browser : lib.form_connect_started().browserIds)
        lib.form_browser_close(browser);
}

void UploadE2eTest::startSimulator(const QStringList &knobs)
{
    m_sim = std::make_unique<testsupport::SimProcess>(knobs);
    ASSERT_TRUE(m_sim->isRunning()) << m_sim->startError().toStdString();
    const QString ini = QStringLiteral("[studio]\norigin=%1\n[browser]\nheadless=true\nextra_args=%2\n").arg(m_sim->origin(), kBrowserFlags.join(' '));
    testsupport::writeAll(m_run.file("data/services.ini"), ini.toUtf8());
}

QString UploadE2eTest::addAccount(const QString &id, const QString &user, const QString &folder)
{
    QDir().mkpath(folder);
    QDir().mkpath(accounts::accountListDirectory());
    AccountDocument doc;
    doc.setValue("昵称", "自动获取");
    doc.setValue("素材目录", folder);
    doc.setValue("缓存id", id);
    doc.saveFile(accounts::accountFilePath(id));
    m_table.appendRow({QString::number(m_table.rowCount() + 1), QString(), folder, id, QString()});
    if (!user.isEmpty()) {
        QString error;
        EXPECT_TRUE(m_sim->logInProfile(BrowserSession::profileDirectory(id), user, kBrowserFlags, &error))
            << "login of " << user.toStdString() << ": " << error.toStdString();
    }
    return folder;
}

QString UploadE2eTest::makeClip(const QString &path)
{
    QString error;
    EXPECT_TRUE(testsupport::makeClip(path, QStringLiteral("clip %1").arg(++g_clipNumber), &error)) << error.toStdString();
    return path;
}

QString UploadE2eTest::makePicture(const QString &path)
{
    QString error;
    EXPECT_TRUE(testsupport::makePicture(path, &error)) << error.toStdString();
    return path;
}

QByteArray UploadE2eTest::sha256Of(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

bool UploadE2eTest::ledgerHoldsFile(const QByteArray &sha256) const
{
    for (const QJsonObject &entry : ledger())
        if (entry.value("file_sha256").toString().toLatin1() == sha256)
            return true;
    return false;
}

void UploadE2eTest::pressStartStop()
{
    m_job->startStopJob();
}

bool UploadE2eTest::runUntilDone(int timeoutMs)
{
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    m_job->startStopJob();
    if (m_form.text("开始") != "停止")
        return false;
    if (!done.wait(timeoutMs))
        return false;
    // The run's own account of its time: waits are part of the wall time.
    const qint64 wallMs = done.first().at(0).toLongLong();
    const qint64 waitMs = done.first().at(1).toLongLong();
    EXPECT_GT(waitMs, 0);
    EXPECT_LE(waitMs, wallMs);
    return true;
}
