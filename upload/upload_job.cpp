#include "upload/upload_job.h"

#include "accounts/account_document.h"
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
        if (!runOneAttempt(row)) {
            qCWarning(lcUpload) << "account" << number << "is not logged in; its remaining attempts of this round are skipped";
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

void UploadJob::report(const JobAccount &account, const QString &video, const QString &title, const char *result, const QString &reason,
                       qint64 wallMs, qint64 waitMs)
{
    AttemptRecord r;
    r.time = QDateTime::currentDateTime();
    r.accountNumber = account.row + 1;
    r.accountId = account.id;
    r.nickname = m_table.cell(account.row, AccountTable::Nickname);
    r.video = video;
    r.title = title;
    r.result = QString::fromLatin1(result);
    r.reason = reason;
    r.seconds = wallMs / 1000.0;
    r.waitSeconds = waitMs / 1000.0;
    runreport::append(r);
}

bool UploadJob::runOneAttempt(int row)
{
    // The job's own snapshot of the account for the whole video: the user
    // selecting rows or reloading the list never redirects it.
    JobAccount account;
    account.row = row;
    account.id = m_table.cell(row, AccountTable::AccountId);
    account.folder = m_table.cell(row, AccountTable::Folder);
    if (account.folder.isEmpty() || !QFileInfo::exists(account.folder))
        account.folder = m_form.text(QStringLiteral("编辑框_视频素材目录"));
    const QString video = videofiles::pickVideo(m_form, m_table, account.folder, row);
    if (video.isEmpty() || !QFileInfo::exists(video)) {
        qCInfo(lcUpload).noquote() << "account" << row + 1 << "has no video to publish in" << account.folder;
        report(account, QString(), QString(), "no video", account.folder, 0, 0);
        DelayWait(900);
        return true;
    }
    m_settleLoggedOut = false;
    if (settleKnownVideo(account, video)) {
        DelayWait(900);
        return !m_settleLoggedOut;
    }
    qCInfo(lcUpload).noquote() << QStringLiteral("account %1 (id %2): video").arg(row + 1).arg(account.id) << video;
    AccountDocument &context = accountDocument();
    context.setValue(QStringLiteral("当前索引"), QString::number(row));
    context.setValue(QStringLiteral("视频路径"), video);
    context.setValue(QStringLiteral("缓存id"), account.id);
    const int published = leadingInt(m_table.cell(row, AccountTable::PublishedToday));

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
    UploadOutcome outcome = UploadOutcome::Failed;
    FailureFacts evidenceFacts;
    QElapsedTimer wall;
    wall.start();
    const qint64 waitedBefore = waitedOnThisThread();
    {
        const auto ticker = ElapsedTicker::start(m_table, row);
        context.setValue(QStringLiteral("耗时句柄"), QString::number(ticker->id()));
        m_table.setCell(row, AccountTable::Publishing, video);
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
        hooks.afterLanding = [&](bool draft) { m_journal->record(identity, draft ? JournalState::Draft : JournalState::Published); };
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
        countDownAfterPublish(row, video, identity, published);
        return true;
    }
    qCWarning(lcUpload).noquote() << "video" << video << "of account" << row + 1 << "failed after" << wallMs / 1000.0 << "s, and stays where it is";
    const bool loggedOut = outcome == UploadOutcome::LoggedOut;
    m_table.setCell(row, AccountTable::Status, loggedOut ? QStringLiteral("未登录") : QStringLiteral("上传失败"));
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
    return !loggedOut;
}

bool UploadJob::settleKnownVideo(const JobAccount &account, const QString &video)
{
    // The cheap test first: only a file whose size and name the journal
    // knows is hashed.
    const QFileInfo file(video);
    if (!m_journal->mayHold(file.size(), file.fileName()))
        return false;
    const QByteArray sha = sha256OfFile(video);
    const JournalState state = m_journal->stateOf(sha, file.size());
    std::optional<VideoIdentity> known = m_journal->find(sha, file.size());
    if (!known || state == JournalState::None || state == JournalState::Held || state == JournalState::Failed)
        return false; // new to the studio, or put back by the user: it goes out
    if (state == JournalState::Submitting) {
        // Submitted, and then the program ended before the landing address
        // was seen: the studio may or may not have it.
        JobAccount submittedUnder = account;
        submittedUnder.id = known->account;
        const bool found = titleIsInStudio(submittedUnder, known->title);
        if (!found && m_session.loggedOut()) {
            // The content pages cannot be read without the login: nothing
            // is decided, the video stays where it is.
            qCWarning(lcUpload).noquote() << "video" << video << "was submitted before the program ended; account" << known->account
                                          << "is not logged in, so the studio cannot be asked; it stays";
            m_table.setCell(account.row, AccountTable::Status, QStringLiteral("未登录"));
            report(account, video, known->title, "not logged in", QStringLiteral("submitted before the program ended; the studio could not be asked"), 0, 0);
            m_settleLoggedOut = true;
            return true;
        }
        if (found) {
            qCWarning(lcUpload).noquote() << "video" << video << "was submitted before the program ended and is in the studio as" << known->title;
            m_journal->record(*known, JournalState::Published, QStringLiteral("found on the content page after a restart"));
            report(account, video, known->title, "published", QStringLiteral("submitted before the program ended; found in the studio"), 0, 0);
        } else {
            const QString folder = videofiles::holdFolder(m_form);
            qCWarning(lcUpload).noquote() << "video" << video << "was submitted before the program ended and is not in the studio; held in" << folder;
            if (videofiles::moveWithCover(video, folder))
                m_journal->record(*known, JournalState::Held, QStringLiteral("submitted, not found on the content pages"));
            m_table.setCell(account.row, AccountTable::Status, QStringLiteral("待确认"));
            report(account, video, known->title, "held", QStringLiteral("submitted before the program ended; not on the content pages"), 0, 0);
            return true;
        }
    } else {
        qCWarning(lcUpload).noquote() << "video" << video << "is already in the studio; it is not uploaded again";
    }
    if (videofiles::disposeUsedVideo(m_form, video))
        m_journal->record(*known, JournalState::Disposed);
    return true;
}

bool UploadJob::titleIsInStudio(const JobAccount &account, const QString &title)
{
    const int page = m_session.attachOrOpenBrowser(account);
    if (page <= 0 || title.isEmpty())
        return false;
    for (const char *tab : {"/content?tab=video", "/content?tab=draft"}) {
        if (!m_library.form_forward_url(page, m_origin + QString::fromLatin1(tab)))
            continue;
        DelayWait(2, 1);
        // The page's text, as a JSON string.
        const QString json = m_library.evaluateScript(page, QStringLiteral("document.body ? document.body.innerText : ''"));
        const QJsonArray value = QJsonDocument::fromJson(("[" + json + "]").toUtf8()).array();
        if (value.size() == 1 && value[0].toString().contains(title))
            return true;
    }
    return false;
}

void UploadJob::countDownAfterPublish(int row, const QString &videoPath, const VideoIdentity &identity, int published)
{
    const int wait = static_cast<int>(QRandomGenerator::global()->bounded(6)) + leadingInt(m_form.text(QStringLiteral("编辑框_视频间隔")));
    m_table.setCell(row, AccountTable::Status, QStringLiteral("延时%1秒后继续").arg(wait));
    if (videofiles::disposeUsedVideo(m_form, videoPath))
        m_journal->record(identity, JournalState::Disposed);
    for (int k = 1; k <= wait; ++k) {
        const QString text = QStringLiteral("延时%1秒后继续").arg(wait - k);
        m_table.setCell(row, AccountTable::Status, text);
        m_library.form_set_window_title(currentPageId, text);
        DelayWait(1, 1);
        processPendingEvents();
    }
    m_table.setCell(row, AccountTable::Status, QString());
    m_table.setCell(row, AccountTable::PublishedToday, QString::number(published + 1));
}
