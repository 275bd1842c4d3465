#pragma once

#include "accounts/account_table.h"
#include "form/form.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_support.h"
#include "upload/upload_job.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTest>
#include <QVariant>

#include <gtest/gtest.h>

#include <memory>

// Records a job's signal like QSignalSpy, but the job emits from its own
// threads (one per lane): each emission is queued to the test's thread and
// recorded there, so the test reads its records without a race.
class QueuedSpy : public QObject {
public:
    template <typename Sender, typename... Args>
    QueuedSpy(Sender *sender, void (Sender::*signal)(Args...))
    {
        connect(
            sender, signal, this, [this](Args... args) { m_calls.append(QVariantList{QVariant::fromValue(std::decay_t<Args>(args))...}); },
            Qt::QueuedConnection);
    }
    qsizetype size() const { return m_calls.size(); }
    qsizetype count() const { return m_calls.size(); }
    bool isEmpty() const { return m_calls.isEmpty(); }
    const QVariantList &first() const { return m_calls.first(); }
    const QVariantList &at(qsizetype i) const { return m_calls.at(i); }
    // Waits, handling events, until one more emission than now was recorded.
    bool wait(int timeoutMs)
    {
        const qsizetype before = size();
        return QTest::qWaitFor([&] { return size() > before; }, timeoutMs);
    }

private:
    QList<QVariantList> m_calls;
};

// A run directory with accounts whose browser profiles are logged in to a
// simulator of their own, real MP4 clips, and an upload job driven in
// process with the main window's form.
class UploadE2eTest : public ::testing::Test {
protected:
    UploadE2eTest();
    ~UploadE2eTest() override;

    // Starts the simulator (with knobs) and points the run directory at it.
    void startSimulator(const QStringList &knobs = {});
    // Adds an account row and file; logs its profile in as `user` unless empty.
    QString addAccount(const QString &id, const QString &user, const QString &folder);
    // A small real MP4 clip with its own content (and so its own SHA-256).
    QString makeClip(const QString &path);
    // A small real JPEG picture.
    static QString makePicture(const QString &path);
    static QByteArray sha256Of(const QString &path);

    // Presses Start and waits until the job ends by itself.
    bool runUntilDone(int timeoutMs = 120000);
    void pressStartStop();
    QList<QJsonObject> ledger() const { return m_sim->ledger(); }
    bool ledgerHoldsFile(const QByteArray &sha256) const;
    // Closes every browser the library started.
    static void closeAllBrowsers();

    testsupport::TempRunDir m_run;
    std::unique_ptr<testsupport::SimProcess> m_sim;
    Form m_form;
    AccountTable m_table;
    std::unique_ptr<UploadJob> m_job;
    // Hashes of the videos, checked against the ledger before each is disposed of.
    QStringList m_disposedTooEarly;
};
