#pragma once

#include "browser/element_status.h"
#include "studio/studio_description.h"
#include "upload/browser_session.h"
#include "upload/failure_evidence.h"

#include <QString>
#include <QDateTime>
#include <QStringList>

#include <functional>
#include <memory>

class AccountTable;
class BrowserLibrary;
class Form;

// How one attempt at a video ended.
enum class UploadOutcome {
    Published,  // the studio landed on the publish or draft address
    Failed,     // abandoned: time limit, no page, a step that never finished
    Refused,    // the studio refused the file itself (its status read "上传失败")
    LoggedOut,  // the studio showed its login page instead of the upload page
    ProxyFailed, // the account's proxy is down or refuses the account
    NoPage,     // no page of the account's own could be had (its login window is open, its browser cannot start)
    NodeFailed, // the account's remote browser (a Grid node, an endpoint) cannot be had or went away
};

// Hooks around the one press that may publish: `beforeSubmit` runs before
// the first press of publish or draft (false: do not press), `afterLanding`
// once the landing address is seen.
struct SubmitHooks {
    // Once the account's fresh upload page is open, before the file goes in
    // (false: the run was stopped).
    std::function<bool(int page)> pageReady;
    std::function<bool()> beforeSubmit;
    std::function<void(bool draft)> afterLanding;
};

// Publishes one video on the creator studio's upload page: file, upload
// progress, cover, title, options, publish or draft, confirmed by the
// address the studio lands on. Runs on the job thread.
class UploadPipeline final {
public:
    UploadPipeline(Form &form, BrowserLibrary &library, BrowserSession &session, const QString &studioOrigin);

    // The account and video of this attempt (the job's own snapshot).
    void setVideo(const JobAccount &account, const QString &videoPath, int tickerId);
    void setSubmitHooks(SubmitHooks hooks) { m_hooks = std::move(hooks); }
    // The video's own tags (from the text beside it): they take the place
    // of the fixed tags.
    void setVideoTags(const QStringList &tags) { m_videoTags = tags; }
    // Publish at this time with the studio's schedule (invalid: at once).
    void setScheduledTime(const QDateTime &time) { m_scheduled = time; }
    // The title the job chose for this attempt; without one, titleFor().
    void setTitle(const QString &title) { m_title = title; }

    // True = published or saved as draft; false = abandoned.
    bool uploadOneVideo();
    UploadOutcome outcome() const { return m_outcome; }
    // Of a failed attempt: the step it was at, why it failed, and what the
    // page last showed where the step waited.
    QString failedStep() const { return QString::fromLatin1(m_step); }
    QString failureReason() const { return m_reason; }
    QString lastSeen() const { return m_lastSeen; }
    // The attempt ran out of its time limit (rather than failing a check).
    bool abandoned() const { return m_abandoned; }
    // The page as it was when the attempt failed (address, screenshot and
    // which roles of the studio description it showed).
    const FailureFacts &evidence() const { return m_evidence; }
    // The first role of the failed step that matched nothing, as
    // "封面框（.m-quorl-upload）"; "" when every role it used was found.
    QString missingRole() const { return m_missing.value(0); }

    void uploadVideoFile(const QString &videoPath);
    bool waitUploadDone();
    bool setCover(const QString &videoPath);
    void fillTitle(const QString &videoPath);
    // Enters the tags the window's 标签选项 choose (skipped, and logged, when
    // the description has no tag field).
    void fillTags();
    // Chooses the category of the two combo boxes (none chosen: untouched).
    void chooseCategory();
    // Ticks originality and options; returns whether the original box was chosen.
    bool setOptions();
    bool submitVideo();
    // Switches the page to its schedule and enters the time; false when the
    // page did not take it (the video is then never published at once).
    bool setSchedule();

    // prefix + file name without extension + suffix
    QString titleFor(const QString &videoPath) const;

private:
    // The element operations by role: each selector of the role in turn
    // until one matches; a role none of whose selectors matched is noted
    // for the step. `index` -1 takes each selector's own index.
    bool click(studio::Role role, int index = -1);
    QString textOf(studio::Role role, int index = -1, bool noteMissing = true);
    bool exists(studio::Role role);
    bool setValue(studio::Role role, const QString &value);
    bool type(studio::Role role, const QString &text);
    bool upload(studio::Role role, const QString &path);
    // Runs `op` on each selector until one matches; notes the role when none does.
    template <typename Op>
    auto bySelectors(studio::Role role, int index, bool noteMissing, Op op) -> decltype(op(QString(), 0, nullptr));
    void pause(studio::Role wait);
    const studio::StudioDescription &studio() const { return *m_studio; }
    // Waits while `condition` holds, one second at a time, within the time limit.
    bool waitWhile(const std::function<bool()> &condition);
    // Logs why the video failed and at which step, ends its ticker.
    bool failureEnd(int tickerId, const QString &reason);
    // checkGiveUp(), logging the step the time limit ended.
    bool stillInTime();
    void beginStep(const char *step);
    int page() const;

    Form &m_form;
    BrowserLibrary &m_library;
    BrowserSession &m_session;
    QString m_origin;
    JobAccount m_account;
    int m_tickerId = 0;
    SubmitHooks m_hooks;
    UploadOutcome m_outcome = UploadOutcome::Failed;
    QString m_video;
    QString m_title;
    const char *m_step = "starting";
    // What the page last showed where the step waits (the upload status ...).
    QString m_lastSeen;
    QString m_unreachable; // why the account's browser could not reach the last file handed to it
    bool m_abandoned = false;
    QString m_reason;
    FailureFacts m_evidence;
    // The description this video works with, taken when it starts.
    std::shared_ptr<const studio::StudioDescription> m_studio;
    QStringList m_missing; // roles of the current step that matched nothing
    QStringList m_videoTags;
    QDateTime m_scheduled;
    QString m_scheduleFailure; // why the page did not take the scheduled time
};
