#pragma once

#include "upload/browser_session.h"
#include "upload/delay_wait.h"
#include "upload/publish_journal.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class AccountTable;
class BrowserLibrary;
class Form;

// The batch run behind the Start/Stop button: walks the accounts from the
// account number, uploads each account's quota of videos, waits between
// videos and accounts, and optionally starts over. Stop takes effect at once:
// the job unwinds at its next wait or poll; nothing is rolled back.
class UploadJob final : public QObject {
    Q_OBJECT
public:
    UploadJob(Form &form, AccountTable &table, BrowserLibrary &library, QObject *parent = nullptr);
    ~UploadJob() override;

    BrowserSession &session() { return m_session; }

    // The Start/Stop command (user-interface thread): decides by the caption of 开始.
    void startStopJob();
    bool isRunning() const { return m_running; }
    // Waits (pumping events) until the job thread has ended.
    void waitUntilStopped();

    // "12abc" gives 12; no leading digits give 0.
    static int leadingInt(const QString &text);

signals:
    void accountStarted(int row, const QString &accountId);
    void videoStarted(int row, const QString &videoPath);
    // With the wall time of the attempt and the part of it spent in the
    // prescribed waits, and the same two figures for the run so far.
    void videoFinished(int row, const QString &videoPath, bool published, qint64 wallMs, qint64 waitMs, qint64 runWallMs, qint64 runWaitMs);
    // The run reached the end of the list without looping; with the run's wall
    // time and the part of it spent in the prescribed waits.
    void finishedByItself(qint64 wallMs, qint64 waitMs);

private:
    void runUploadJob();
    void runPass();
    void runAccount(int number, int videosPerAccount);
    // How an attempt ended for its account: go on with its next attempt, or
    // skip the rest of its quota this round (not logged in, an id that
    // cannot name its files).
    enum class AttemptEnd { GoOn, SkipAccount };
    AttemptEnd runOneAttempt(int row);
    // A text of the account's own row, wherever the row is now.
    void setRowText(const JobAccount &account, int column, const QString &text);
    // One line of the run report.
    void report(const JobAccount &account, const QString &video, const QString &title, const char *result, const QString &reason, qint64 wallMs,
                qint64 waitMs);
    // A picked video the journal knows: one already in the studio is
    // disposed of, one submitted without an outcome is looked up on the
    // account's content pages (published when found, held otherwise). True
    // when the video was settled so and is not to be uploaded.
    bool settleKnownVideo(const JobAccount &account, const QString &video);
    enum class StudioAnswer { InStudio, NotInStudio, CannotTell };
    // Whether the account's content pages list one more video of this title
    // than the journal knows to be there already.
    StudioAnswer askStudio(const JobAccount &account, const QString &title);
    // Items of the content list on the page whose title is exactly `title`;
    // -1 when the list did not render.
    int countListedTitles(int page, const QString &title);
    // Deletes or moves a published video; when that fails it is never
    // picked again this run and the row and the report say why.
    void disposeOfPublished(const JobAccount &account, const QString &video, const VideoIdentity &identity);
    void countDownAfterPublish(const JobAccount &account, const QString &videoPath, const VideoIdentity &identity, int published, bool landingRecorded);
    void joinFinishedThread();

    Form &m_form;
    AccountTable &m_table;
    BrowserLibrary &m_library;
    BrowserSession m_session;
    StopToken m_token;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    QString m_origin;
    std::unique_ptr<PublishJournal> m_journal; // the job thread's, read at each start
    // Videos the studio refused in a row, by path (job thread only).
    QHash<QString, int> m_refusals;
    bool m_settleLoggedOut = false; // the last settle found the account logged out
    // Published videos that could not be deleted or moved (job thread only):
    // never picked again, so the account goes on with its next video.
    QSet<QString> m_undisposable;
    // The run's clock and the waits before it, kept by the job thread.
    QElapsedTimer m_runClock;
    qint64 m_runWaitedBefore = 0;
};
