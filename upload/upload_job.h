#pragma once

#include "upload/browser_session.h"
#include "upload/delay_wait.h"
#include "upload/pass_progress.h"
#include "upload/publish_journal.h"
#include "upload/run_alerts.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class AccountTable;
class BrowserLibrary;
class Form;
class TitleSource;

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

    // Lanes for the next runs (--lanes N); 0 = the text of 编辑框_同时账号数.
    void setLanesOverride(int lanes) { m_lanesOverride = lanes; }
    // How many accounts the next run works on at once (1 to kMaxLanes).
    int laneCount() const;
    static constexpr int kMaxLanes = 32;
    // The run stopped itself: attempts in a row failed at the same step.
    bool stoppedOnRepeatedFailures() const { return m_stoppedOnFailures; }

signals:
    void accountStarted(int row, const QString &accountId);
    void videoStarted(int row, const QString &videoPath);
    // With the wall time of the attempt and the part of it spent in the
    // prescribed waits, and the same two figures for the run so far.
    void videoFinished(int row, const QString &videoPath, bool published, qint64 wallMs, qint64 waitMs, qint64 runWallMs, qint64 runWaitMs);
    // The run reached the end of the list without looping; with the run's wall
    // time and the part of it spent in the prescribed waits.
    void finishedByItself(qint64 wallMs, qint64 waitMs);
    // The run stopped itself after attempts in a row failed at one step (the
    // studio's page has likely changed); with the message shown.
    void stoppedByRepeatedFailures(const QString &message);
    // The check of the upload page before the run found a role of the
    // studio description missing: no video was touched; with the message.
    void stoppedByPageCheck(const QString &message);

private:
    struct Lane;
    void runUploadJob();
    // The upload page checked once per run, on the first fresh upload page
    // of a lane, before any file goes in; false when the page lacks a role
    // (the run is then stopped).
    bool pageCheckedOn(int page, const QString &accountId);
    // Ends the run as a Stop would, with the message in the status bar, the
    // report and a message box.
    void stopByItself(const QString &message);
    // With 定时发布 ticked: the account's next free listed time (invalid:
    // publish at once); nullopt, said in the row and the report, when the
    // list holds no time the studio's window takes.
    std::optional<QDateTime> scheduledTimeFor(const JobAccount &account);
    enum class PageCheck { Pending, Running, Passed, Failed };
    PageCheck m_pageCheck = PageCheck::Pending; // under m_laneMutex
    void runPass();
    // One lane's part of a pass: accounts as they are dealt, until none is left.
    void runLane(Lane &lane, int count, int videosPerAccount);
    // True when the account ran its turn (false: it was refused).
    bool runAccount(Lane &lane, int number, int videosPerAccount);
    // The next account number no lane has taken yet (from 编辑框_账号序列
    // on) and that this pass has not finished; 0 when the pass has none left.
    int takeAccount(int count);
    // 编辑框_账号序列 then shows the lowest number not finished yet; an
    // account that ran its turn is finished for the pass (`ran`).
    void finishAccount(int number, const QString &accountId, bool ran);
    // Why the account cannot run at all ("" when it can): an id that cannot
    // name its files, or one an earlier row already has (one profile never
    // has two lanes). The row and the report say so.
    QString refusal(const JobAccount &account);
    // With several lanes a browser starts only while the machine has the
    // memory for it (one lane always may: the run never stalls for good).
    void waitForMemory(int row, const QString &accountId);
    void showRunStatus();
    // How an attempt ended for its account: go on with its next attempt, or
    // skip the rest of its quota this round (not logged in, an id that
    // cannot name its files).
    enum class AttemptEnd { GoOn, SkipAccount };
    AttemptEnd runOneAttempt(Lane &lane, const JobAccount &account);
    // The next video of the folder that no other lane holds, claimed for
    // this lane until releaseVideo(); "" when there is none.
    QString claimVideo(const JobAccount &account, const QString &folder);
    void releaseVideo(const QString &video);
    static QString claimKey(const QString &video);
    // Counts attempts in a row failing the same way; stops the run at the
    // limit. A logged-out account or a file the studio refused is no sign
    // that the studio changed and never counts towards it.
    enum class Outcome { Published, Failed, FailedNotCounted };
    void noteOutcome(const JobAccount &account, Outcome outcome, const QString &failureKey = {}, const QString &stepName = {},
                     const QString &missingRole = {});
    // Tells the group chat of [alert] that the run needs a person, naming
    // the account by its nickname as its row shows it.
    void alert(runalerts::Cause cause, const QString &accountId, int row, const QString &reason = {});
    // A text of the account's own row, wherever the row is now.
    void setRowText(const JobAccount &account, int column, const QString &text);
    // One line of the run report.
    void report(const JobAccount &account, const QString &video, const QString &title, const char *result, const QString &reason, qint64 wallMs,
                qint64 waitMs);
    // A picked video the journal knows: one already in the studio is
    // disposed of, one submitted without an outcome is looked up on the
    // account's content pages (published when found, held otherwise). True
    // when the video was settled so and is not to be uploaded.
    enum class Settled { No, Yes, YesLoggedOut };
    // `sha256Hex` when the video's hash is known already: the journal is then
    // asked whatever the file's name.
    Settled settleKnownVideo(Lane &lane, const JobAccount &account, const QString &video, const QByteArray &sha256Hex = {});
    enum class StudioAnswer { InStudio, NotInStudio, CannotTell };
    // Whether the account's content pages list one more video of this title
    // than the journal knows to be there already.
    StudioAnswer askStudio(BrowserSession &session, const JobAccount &account, const QString &title);
    // Items of the content list on the page whose title is exactly `title`;
    // -1 when the list did not render.
    int countListedTitles(int page, const QString &title);
    // Deletes or moves a published video; when that fails it is never
    // picked again this run and the row and the report say why.
    void disposeOfPublished(const JobAccount &account, const QString &video, const VideoIdentity &identity);
    void countDownAfterPublish(Lane &lane, const JobAccount &account, const QString &videoPath, const VideoIdentity &identity, int published, bool landingRecorded);
    void joinFinishedThread();

    Form &m_form;
    AccountTable &m_table;
    BrowserLibrary &m_library;
    BrowserSession m_session;
    StopToken m_token;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    QString m_origin;
    std::unique_ptr<PublishJournal> m_journal; // read at each start; shared by the lanes
    std::unique_ptr<PassProgress> m_pass;      // the accounts finished in this pass
    std::unique_ptr<TitleSource> m_titles;     // made at each start; shared by the lanes
    int m_lanesOverride = 0;
    int m_lanes = 1; // of the current run
    // What the lanes share, under m_laneMutex.
    mutable std::mutex m_laneMutex;
    // Videos the studio refused in a row, by path.
    QHash<QString, int> m_refusals;
    // Published videos that could not be deleted or moved: never picked
    // again, so the account goes on with its next video.
    QSet<QString> m_undisposable;
    // Videos a lane has picked and not let go yet (claimKey): two accounts
    // sharing a folder never take the same file.
    QSet<QString> m_claimed;
    std::mutex m_pickMutex; // one pick (list, rename, claim) at a time
    // Dealing accounts to lanes in one pass.
    int m_nextNumber = 1;
    QList<int> m_inProgress;
    int m_browsersStarted = 0; // lanes past the memory guard, inside an account
    int m_published = 0;
    int m_failed = 0;
    // Attempts in a row failing the same way, across the lanes.
    QString m_failureKey;
    int m_failureStreak = 0;
    std::atomic<bool> m_stoppedOnFailures{false};
    // The run's clock and the waits before it, kept by the job thread.
    QElapsedTimer m_runClock;
    qint64 m_runWaitedBefore = 0;
};
