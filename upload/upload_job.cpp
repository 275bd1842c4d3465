#include "upload/upload_job.h"

#include "accounts/account_document.h"
#include "accounts/account_id.h"
#include "accounts/account_table.h"
#include "base/diagnostic_log.h"
#include "base/service_config.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "upload/elapsed_ticker.h"
#include "upload/failure_evidence.h"
#include "upload/job_state.h"
#include "upload/log.h"
#include "upload/run_report.h"
#include "upload/upload_pipeline.h"
#include "upload/video_files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QThread>

#include <future>

namespace {
const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");
const QString kSequence = QStringLiteral("编辑框_账号序列");
constexpr int kRefusalsBeforeSetAside = 3;
} // namespace

UploadJob::UploadJob(Form &form, AccountTable &table, BrowserLibrary &library, QObject *parent)
    : QObject(parent)
    , m_form(form)
    , m_table(table)
    , m_library(library)
    , m_session(form, table, library)
{
}

UploadJob::~UploadJob()
{
    m_token.requestStop();
    if (m_thread.joinable())
        m_thread.join();
}

int UploadJob::leadingInt(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        negative = t[i++] == u'-';
    qint64 value = 0;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > std::numeric_limits<int>::max())
            return negative ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    }
    return static_cast<int>(negative ? -value : value);
}

void UploadJob::joinFinishedThread()
{
    if (!m_thread.joinable())
        return;
    if (m_running)
        waitUntilStopped();
    m_thread.join();
}

void UploadJob::waitUntilStopped()
{
    while (m_running) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

void UploadJob::startStopJob()
{
    m_session.initBrowserLibrary();
    giveUpSeconds = m_form.isChecked(QStringLiteral("选择框_自动放弃")) ? leadingInt(m_form.text(QStringLiteral("放弃秒"))) : 0;
    const QString caption = m_form.text(kStart);
    if (caption == kStart && m_running) {
        // The stopped run is still unwinding (a browser call has not come
        // back yet). A press now is not kept for later: a run the user
        // stopped never starts again by itself.
        qCInfo(lcUpload) << "Start pressed while the stopped run is still ending; the press is ignored";
        return;
    }
    if (caption == kStart) {
        joinFinishedThread();
        AccountDocument &context = accountDocument();
        for (const char *key : {"当前索引", "视频路径", "缓存id", "耗时句柄"})
            context.remove(QString::fromUtf8(key));
        m_origin = ServiceConfig::load().studioOrigin;
        m_token = StopToken();
        m_running = true;
        m_thread = std::thread([this] { runUploadJob(); });
        m_form.setText(kStart, kStop);
    } else if (caption == kStop) {
        m_form.setText(kStart, kStart);
        m_token.requestStop();
        ElapsedTicker::haltAll();
    }
}

void UploadJob::runUploadJob()
{
    StopScope scope(m_token);
    diagnostics::setThreadName("job");
    // Read on the job thread: after years of use the journal is long.
    m_journal = std::make_unique<PublishJournal>();
    // A new run tries the used folder again: the user may have mended it.
    m_undisposable.clear();
    m_runClock.start();
    m_runWaitedBefore = waitedOnThisThread();
    bool byItself = false;
    qCInfo(lcUpload).noquote() << "run started at account" << m_form.text(kSequence) << "on" << m_origin;
    try {
        do {
            runPass();
        } while (m_form.isChecked(QStringLiteral("选择框_自动循环")));
        byItself = true;
        qCInfo(lcUpload) << "run ended by itself after" << m_runClock.elapsed() / 1000 << "s";
    } catch (const JobStopped &) {
        qCInfo(lcUpload) << "run stopped after" << m_runClock.elapsed() / 1000 << "s";
    }
    m_running = false;
    if (byItself)
        emit finishedByItself(m_runClock.elapsed(), waitedOnThisThread() - m_runWaitedBefore);
}

void UploadJob::runPass()
{
    const int count = m_table.rowCount();
    m_form.setText(QStringLiteral("分组框6"), QStringLiteral("账号列表（右键点击操作）当前有账号：%1个").arg(count));
    const int perAccount = m_form.isChecked(QStringLiteral("选择框_切换账号")) ? leadingInt(m_form.text(QStringLiteral("编辑框_单账号上传"))) : 1;
    m_form.setText(QStringLiteral("分组框_控制"), QStringLiteral("当前设置，每个账号发布%1个视频后切换").arg(perAccount));
    if (leadingInt(m_form.text(kSequence)) > count)
        m_form.setText(kSequence, QStringLiteral("1"));
    for (int number = 1; number <= count; ++number) {
        checkStop();
        if (number < leadingInt(m_form.text(kSequence)))
            continue;
        runAccount(number, perAccount);
    }
    // A pass over an empty list must not spin when looping.
    if (count == 0)
        DelayWait(900);
}

void UploadJob::runAccount(int number, int videosPerAccount)
{
    const int row = number - 1;
    currentRow = row;
    emit accountStarted(row, m_table.cell(row, AccountTable::AccountId));
    for (int attempt = 0; attempt < videosPerAccount; ++attempt) {
        // A logged-out account would only wait out the limit again and again.
        if (runOneAttempt(row) == AttemptEnd::SkipAccount) {
            qCWarning(lcUpload) << "account" << number << "cannot publish now; its remaining attempts of this round are skipped";
            break;
        }
        DelayWait(900);
    }
    m_form.setText(kSequence, QString::number(number + 1));
    m_library.form_close_browser(currentPageId);
    DelayWait(900);
    if (m_form.isChecked(QStringLiteral("选择框_2账号间隔")))
        DelayWait(leadingInt(m_form.text(QStringLiteral("编辑框_账号间隔"))), 1);
    processPendingEvents();
}

void UploadJob::setRowText(const JobAccount &account, int column, const QString &text)
{
    // Through the account, never through an index taken earlier: the list
    // may have been reloaded or edited since.
    m_table.setCellOf(account.id, account.row, column, text);
}

void UploadJob::report(const JobAccount &account, const QString &video, const QString &title, const char *result, const QString &reason,
                       qint64 wallMs, qint64 waitMs)
{
    AttemptRecord r;
    r.time = QDateTime::currentDateTime();
    r.accountNumber = account.row + 1;
    r.accountId = account.id;
    r.nickname = m_table.cellOf(account.id, account.row, AccountTable::Nickname);
    r.video = video;
    r.title = title;
    r.result = QString::fromLatin1(result);
    r.reason = reason;
    r.seconds = wallMs / 1000.0;
    r.waitSeconds = waitMs / 1000.0;
    runreport::append(r);
}

UploadJob::AttemptEnd UploadJob::runOneAttempt(int row)
{
    // The job's own snapshot of the account for the whole video, from one
    // read of its row: the user selecting rows or reloading the list never
    // redirects it.
    const QStringList cells = m_table.row(row);
    JobAccount account;
    account.row = row;
    account.id = cells.value(AccountTable::AccountId);
    account.folder = cells.value(AccountTable::Folder);
    const QString unsafe = accountid::whyUnsafe(account.id);
    if (!unsafe.isEmpty()) {
        // An empty id would mean another account's profile, and one that is
        // no plain name could reach outside the run directory.
        qCWarning(lcUpload).noquote() << "account" << row + 1 << "is not run: its id" << account.id << "cannot name its files --" << unsafe;
        if (!cells.isEmpty())
            m_table.setCell(row, AccountTable::Status, QStringLiteral("账号标识无效"));
        report(account, QString(), QString(), "skipped", QStringLiteral("the account id \"%1\" cannot be used: %2").arg(account.id, unsafe), 0, 0);
        return AttemptEnd::SkipAccount;
    }
    if (account.folder.isEmpty() || !QFileInfo::exists(account.folder))
        account.folder = m_form.text(QStringLiteral("编辑框_视频素材目录"));
    const QString video = videofiles::pickVideo(m_form, m_table, account.folder, row, m_undisposable);
    if (video.isEmpty() || !QFileInfo::exists(video)) {
        qCInfo(lcUpload).noquote() << "account" << row + 1 << "has no video to publish in" << account.folder;
        report(account, QString(), QString(), "no video", account.folder, 0, 0);
        DelayWait(900);
        return AttemptEnd::GoOn;
    }
    m_settleLoggedOut = false;
    if (settleKnownVideo(account, video)) {
        DelayWait(900);
        return m_settleLoggedOut ? AttemptEnd::SkipAccount : AttemptEnd::GoOn;
    }
    qCInfo(lcUpload).noquote() << QStringLiteral("account %1 (id %2): video").arg(row + 1).arg(account.id) << video;
    AccountDocument &context = accountDocument();
    context.setValue(QStringLiteral("当前索引"), QString::number(row));
    context.setValue(QStringLiteral("视频路径"), video);
    context.setValue(QStringLiteral("缓存id"), account.id);
    const int published = leadingInt(m_table.cellOf(account.id, row, AccountTable::PublishedToday));

    // Who the video is goes into the journal before the first press of
    // publish; its hash is worked out while the upload runs.
    const QFileInfo file(video);
    VideoIdentity identity;
    identity.size = file.size();
    identity.name = file.fileName();
    identity.account = account.id;
    std::future<QByteArray> hash = std::async(std::launch::async, [video] { return sha256OfFile(video); });

    elapsedSeconds = 0;
    bool ok = false;
    bool landingRecorded = false;
    UploadOutcome outcome = UploadOutcome::Failed;
    FailureFacts evidenceFacts;
    QElapsedTimer wall;
    wall.start();
    const qint64 waitedBefore = waitedOnThisThread();
    {
        const auto ticker = ElapsedTicker::start(m_table, row);
        context.setValue(QStringLiteral("耗时句柄"), QString::number(ticker->id()));
        setRowText(account, AccountTable::Publishing, video);
        videofiles::placeRandomCover(m_form, video);
        emit videoStarted(row, video);
        UploadPipeline pipeline(m_form, m_library, m_session, m_origin);
        pipeline.setVideo(account, video, ticker->id());
        identity.title = pipeline.titleFor(video);
        SubmitHooks hooks;
        hooks.beforeSubmit = [&] {
            identity.sha256Hex = hash.valid() ? hash.get() : identity.sha256Hex;
            // No press without its record on disk: a crash after it must
            // never lead to a second publish.
            if (identity.sha256Hex.isEmpty() || !m_journal->record(identity, JournalState::Submitting)) {
                qCWarning(lcUpload).noquote() << "video" << video << "not submitted: the publish journal could not record it";
                return false;
            }
            return true;
        };
        // Disposal needs this line on disk: without it the file stays, and
        // the content pages settle it at its next pick.
        hooks.afterLanding = [&](bool draft) { landingRecorded = m_journal->record(identity, draft ? JournalState::Draft : JournalState::Published); };
        pipeline.setSubmitHooks(hooks);
        ok = pipeline.uploadOneVideo();
        outcome = pipeline.outcome();
        evidenceFacts = pipeline.evidence();
        evidenceFacts.step = pipeline.failedStep();
        evidenceFacts.reason = pipeline.failureReason();
        evidenceFacts.lastSeen = pipeline.lastSeen();
        ticker->stop();
    }
    const qint64 wallMs = wall.elapsed();
    const qint64 waitMs = waitedOnThisThread() - waitedBefore;
    emit videoFinished(row, video, ok, wallMs, waitMs, m_runClock.elapsed(), waitedOnThisThread() - m_runWaitedBefore);
    const bool draft = m_form.isChecked(QStringLiteral("选择框_保存草稿"));
    if (ok) {
        m_refusals.remove(video);
        qCInfo(lcUpload).noquote() << "video" << video << (draft ? "saved as a draft" : "published") << "in" << wallMs / 1000.0 << "s";
        report(account, video, identity.title, draft ? "draft" : "published", QString(), wallMs, waitMs);
        countDownAfterPublish(account, video, identity, published, landingRecorded);
        return AttemptEnd::GoOn;
    }
    qCWarning(lcUpload).noquote() << "video" << video << "of account" << row + 1 << "failed after" << wallMs / 1000.0 << "s, and stays where it is";
    const bool loggedOut = outcome == UploadOutcome::LoggedOut;
    setRowText(account, AccountTable::Status, loggedOut ? QStringLiteral("未登录") : QStringLiteral("上传失败"));
    evidenceFacts.time = QDateTime::currentDateTime();
    evidenceFacts.accountId = account.id;
    evidenceFacts.video = video;
    evidence::save(evidenceFacts);
    report(account, video, identity.title, loggedOut ? "not logged in" : "failed", evidenceFacts.reason, wallMs, waitMs);
    if (outcome == UploadOutcome::Refused && ++m_refusals[video] >= kRefusalsBeforeSetAside) {
        // A file the studio refuses again and again would block the account
        // for good in order mode: it goes aside and the account goes on.
        m_refusals.remove(video);
        if (identity.sha256Hex.isEmpty())
            identity.sha256Hex = hash.valid() ? hash.get() : sha256OfFile(video);
        const QString folder = videofiles::failedFolder(m_form);
        if (videofiles::moveWithCover(video, folder)) {
            const QString reason = QStringLiteral("the studio refused the file %1 times in a row (上传失败)").arg(kRefusalsBeforeSetAside);
            m_journal->record(identity, JournalState::Failed, reason);
            qCWarning(lcUpload).noquote() << "video" << video << "moved to" << folder << "--" << reason;
            report(account, video, identity.title, "set aside", reason, 0, 0);
        }
    }
    return loggedOut ? AttemptEnd::SkipAccount : AttemptEnd::GoOn;
}

bool UploadJob::settleKnownVideo(const JobAccount &account, const QString &video)
{
    // The cheap test first: only a file whose size and name the journal
    // knows is hashed.
    const QFileInfo file(video);
    if (!m_journal->mayHold(file.size(), file.fileName()))
        return false;
    const QByteArray sha = sha256OfFile(video);
    // The same clip in another account's folder is another video.
    const JournalState state = m_journal->stateOf(sha, file.size(), account.id);
    const std::optional<VideoIdentity> known = m_journal->find(sha, file.size(), account.id);
    if (!known || state == JournalState::None || state == JournalState::Held || state == JournalState::Failed)
        return false; // new to the studio, or put back by the user: it goes out
    if (state != JournalState::Submitting) {
        // Published by this account before and back in its folder (a sync
        // tool restoring it, a copy put back): never again, never silently.
        const QString when = known->publishedAt.isValid() ? known->publishedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
        qCWarning(lcUpload).noquote() << "video" << video << "was published by account" << account.id << (when.isEmpty() ? QString() : QStringLiteral("on ") + when)
                                      << "as" << known->title << "; it is not uploaded again";
        setRowText(account, AccountTable::Status, when.isEmpty() ? QStringLiteral("已发布过") : QStringLiteral("已于%1发布过").arg(when));
        report(account, video, known->title, "already published", when.isEmpty() ? QStringLiteral("published before") : QStringLiteral("published on %1").arg(when), 0, 0);
        disposeOfPublished(account, video, *known);
        return true;
    }
    // Submitted, and then the program ended (or the landing never came)
    // before the landing address was seen: the studio may or may not have it.
    switch (askStudio(account, known->title)) {
    case StudioAnswer::InStudio:
        qCWarning(lcUpload).noquote() << "video" << video << "was submitted without a landing and is in the studio as" << known->title;
        if (!m_journal->record(*known, JournalState::Published, QStringLiteral("found on the content page after a restart")))
            return true; // stays "submitting"; asked again at its next pick
        report(account, video, known->title, "published", QStringLiteral("submitted before; found in the studio"), 0, 0);
        disposeOfPublished(account, video, *known);
        return true;
    case StudioAnswer::NotInStudio: {
        const QString folder = videofiles::holdFolder(m_form);
        qCWarning(lcUpload).noquote() << "video" << video << "was submitted without a landing and is not in the studio; held in" << folder;
        if (videofiles::moveWithCover(video, folder))
            m_journal->record(*known, JournalState::Held, QStringLiteral("submitted, not found on the content pages"));
        setRowText(account, AccountTable::Status, QStringLiteral("待确认"));
        report(account, video, known->title, "held", QStringLiteral("submitted before; not on the content pages"), 0, 0);
        return true;
    }
    case StudioAnswer::CannotTell:
        break;
    }
    // Nothing is decided while the studio cannot be asked: the video stays
    // and is asked about again at its next pick.
    const bool loggedOut = m_session.loggedOut();
    qCWarning(lcUpload).noquote() << "video" << video << "was submitted without a landing; the content pages of account" << account.id
                                  << "could not be read" << (loggedOut ? "(not logged in)" : "") << "so it stays where it is";
    setRowText(account, AccountTable::Status, loggedOut ? QStringLiteral("未登录") : QStringLiteral("无法确认是否已发布"));
    report(account, video, known->title, loggedOut ? "not logged in" : "unconfirmed",
           QStringLiteral("submitted before; the studio's content pages could not be read"), 0, 0);
    m_settleLoggedOut = loggedOut;
    return true;
}

UploadJob::StudioAnswer UploadJob::askStudio(const JobAccount &account, const QString &title)
{
    if (title.isEmpty()) {
        qCWarning(lcUpload) << "a submitted video without a title cannot be looked up on the content pages";
        return StudioAnswer::CannotTell;
    }
    const int page = m_session.attachOrOpenBrowser(account);
    if (page <= 0 || m_session.loggedOut()) {
        qCWarning(lcUpload).noquote() << "no logged-in page of account" << account.id << "to read its content pages";
        return StudioAnswer::CannotTell;
    }
    int listed = 0;
    for (const char *tab : {"/content?tab=video", "/content?tab=draft"}) {
        const QString address = m_origin + QString::fromLatin1(tab);
        if (!m_library.form_forward_url(page, address)) {
            qCWarning(lcUpload).noquote() << "the content page" << address << "did not load";
            return StudioAnswer::CannotTell;
        }
        const int count = countListedTitles(page, title);
        if (count < 0) {
            qCWarning(lcUpload).noquote() << "the content page" << address << "never showed its list";
            return StudioAnswer::CannotTell;
        }
        listed += count;
    }
    const int known = m_journal->countWithTitle(account.id, title);
    qCInfo(lcUpload).noquote() << "the content pages of account" << account.id << "list" << listed << "videos titled" << title << "; the journal knows"
                               << known;
    return listed > known ? StudioAnswer::InStudio : StudioAnswer::NotInStudio;
}

int UploadJob::countListedTitles(int page, const QString &title)
{
    // Whole titles of the list's items, never text of the page: "【每日】1"
    // is no "【每日】10". The list is the page's own script's work, so it
    // is waited for (its items or its empty-list text), not a fixed time.
    const QString literal = QString::fromUtf8(QJsonDocument(QJsonArray{title}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    const QString script = QStringLiteral(
                               "(() => { const items = document.querySelectorAll('.content-item');"
                               " if (!items.length && !document.querySelector('.content-empty')) return -1;"
                               " let n = 0; for (const t of document.querySelectorAll('.content-item__title'))"
                               " if (t.textContent.trim() === %1) ++n; return n; })()")
                               .arg(literal.trimmed());
    constexpr qint64 kListWaitMs = 15000;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        bool number = false;
        const int count = m_library.evaluateScript(page, script).toInt(&number);
        if (number && count >= 0)
            return count;
        if (waited.elapsed() >= kListWaitMs)
            return -1;
        if (m_token.waitFor(200))
            checkStop();
    }
}

void UploadJob::disposeOfPublished(const JobAccount &account, const QString &video, const VideoIdentity &identity)
{
    if (videofiles::disposeUsedVideo(m_form, video)) {
        m_journal->record(identity, JournalState::Disposed);
        return;
    }
    // The journal keeps it as published: it never goes out again, and the
    // account goes on with its next video.
    m_undisposable.insert(video);
    const bool deleting = m_form.isChecked(QStringLiteral("单选框_删除"));
    const QString reason = deleting ? QStringLiteral("published, but the file could not be deleted")
                                    : QStringLiteral("published, but the file could not be moved to %1").arg(m_form.text(QStringLiteral("编辑框_使用过视频目录")));
    qCWarning(lcUpload).noquote() << "video" << video << "--" << reason << "; it is not picked again";
    setRowText(account, AccountTable::Status, deleting ? QStringLiteral("已发布，删除失败") : QStringLiteral("已发布，移动失败"));
    report(account, video, identity.title, "not disposed", reason, 0, 0);
}

void UploadJob::countDownAfterPublish(const JobAccount &account, const QString &videoPath, const VideoIdentity &identity, int published,
                                      bool landingRecorded)
{
    const int row = account.row;
    const int wait = static_cast<int>(QRandomGenerator::global()->bounded(6)) + leadingInt(m_form.text(QStringLiteral("编辑框_视频间隔")));
    setRowText(account, AccountTable::Status, QStringLiteral("延时%1秒后继续").arg(wait));
    QString after;
    if (landingRecorded) {
        disposeOfPublished(account, videoPath, identity);
        if (m_undisposable.contains(videoPath))
            after = m_table.cellOf(account.id, row, AccountTable::Status);
    } else {
        qCWarning(lcUpload).noquote() << "video" << videoPath << "stays where it is: its publish could not be recorded in the journal";
        after = QStringLiteral("已发布，未记录");
    }
    for (int k = 1; k <= wait; ++k) {
        const QString text = QStringLiteral("延时%1秒后继续").arg(wait - k);
        setRowText(account, AccountTable::Status, text);
        m_library.form_set_window_title(currentPageId, text);
        DelayWait(1, 1);
        processPendingEvents();
    }
    // What went wrong with the used file outlives the countdown.
    setRowText(account, AccountTable::Status, after);
    setRowText(account, AccountTable::PublishedToday, QString::number(published + 1));
}
