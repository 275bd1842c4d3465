#include "upload/upload_job.h"

#include "accounts/account_browser.h"
#include "accounts/account_document.h"
#include "accounts/account_id.h"
#include "accounts/account_table.h"
#include "base/diagnostic_log.h"
#include "base/message_box.h"
#include "base/service_config.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "studio/studio_source.h"
#include "upload/available_memory.h"
#include "upload/background_hash.h"
#include "upload/elapsed_ticker.h"
#include "upload/failure_evidence.h"
#include "upload/job_state.h"
#include "upload/log.h"
#include "upload/page_check.h"
#include "upload/publish_schedule.h"
#include "upload/run_report.h"
#include "upload/title_source.h"
#include "upload/upload_pipeline.h"
#include "upload/video_files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>

#include <algorithm>
#include <vector>

namespace {
const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");
const QString kSequence = QStringLiteral("编辑框_账号序列");
constexpr int kRefusalsBeforeSetAside = 3;
} // namespace

// One lane of a run: its own browser session and its own per-video state.
// Lane 1 is the job thread itself, with the process-wide state and the
// session the window also uses.
struct UploadJob::Lane {
    int number = 1;
    BrowserSession *session = nullptr;
    std::unique_ptr<LaneState> ownState;
    std::unique_ptr<BrowserSession> ownSession;
    LaneState &state() { return ownState ? *ownState : LaneState::first(); }
};

namespace {
// The pipeline's steps as the user reads them.
QString stepNameOf(const QString &step)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("opening the upload page"), QStringLiteral("打开上传页面")},
        {QStringLiteral("handing the file to the upload input"), QStringLiteral("选择视频文件")},
        {QStringLiteral("waiting for the upload to finish"), QStringLiteral("等待上传完成")},
        {QStringLiteral("setting the cover"), QStringLiteral("设置封面")},
        {QStringLiteral("typing the title"), QStringLiteral("填写标题")},
        {QStringLiteral("entering the tags"), QStringLiteral("填写标签")},
        {QStringLiteral("choosing the category"), QStringLiteral("选择分类")},
        {QStringLiteral("ticking the options"), QStringLiteral("设置选项")},
        {QStringLiteral("submitting"), QStringLiteral("发布")},
    };
    return names.value(step, step);
}
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

int UploadJob::laneCount() const
{
    const int lanes = m_lanesOverride > 0 ? m_lanesOverride : leadingInt(m_form.text(QStringLiteral("编辑框_同时账号数")));
    return std::clamp(lanes, 1, kMaxLanes);
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
        m_lanes = laneCount();
        m_stoppedOnFailures = false;
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
    m_pass = std::make_unique<PassProgress>();
    m_titles = std::make_unique<TitleSource>(m_form);
    {
        std::lock_guard lock(m_laneMutex);
        // A new run tries the used folder again: the user may have mended it.
        m_undisposable.clear();
        m_claimed.clear();
        m_published = m_failed = 0;
        m_failureKey.clear();
        m_failureStreak = 0;
        m_pageCheck = PageCheck::Pending;
    }
    // The user's own description may have been edited since the last run.
    studio::StudioDescriptions::instance().reload();
    if (m_form.isChecked(QStringLiteral("单选框ai标签")))
        qCInfo(lcUpload) << "tags: the choice 使用ai自动生成标签 generates none yet; the videos of this run get no tags";
    m_runClock.start();
    m_runWaitedBefore = waitedOnThisThread();
    bool byItself = false;
    qCInfo(lcUpload).noquote() << "run started at account" << m_form.text(kSequence) << "on" << m_origin << "with" << m_lanes << (m_lanes == 1 ? "lane" : "lanes");
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

bool UploadJob::pageCheckedOn(int page, const QString &accountId)
{
    // Once per run, on the first fresh upload page a lane opened, before any
    // file goes in; the other lanes wait for its verdict.
    for (;;) {
        {
            std::lock_guard lock(m_laneMutex);
            if (m_pageCheck == PageCheck::Passed)
                return true;
            if (m_pageCheck == PageCheck::Failed)
                return false;
            if (m_pageCheck == PageCheck::Pending) {
                m_pageCheck = PageCheck::Running;
                break;
            }
        }
        DelayWait(100);
    }
    const PageCheckResult check = checkOpenPage(m_library, page, accountId);
    const bool failed = check.kind == PageCheckResult::Redesigned;
    {
        std::lock_guard lock(m_laneMutex);
        m_pageCheck = failed ? PageCheck::Failed : check.kind == PageCheckResult::Fine ? PageCheck::Passed : PageCheck::Pending;
    }
    if (check.kind == PageCheckResult::NoLoggedInAccount)
        return true; // the page gave no answer: the next page is asked
    if (!failed) {
        m_form.setPartText(QStringLiteral("状态条1"), 1, check.message);
        return true;
    }
    qCCritical(lcUpload).noquote() << "run stopped before any video:" << check.message;
    stopByItself(check.message);
    alert(runalerts::Cause::PageCheckFailed, accountId, m_table.rowOf(accountId), check.message);
    emit stoppedByPageCheck(check.message);
    return false;
}

void UploadJob::stopByItself(const QString &message)
{
    // As if Stop were pressed: caption first, then every lane unwinds.
    m_form.setText(kStart, kStart);
    m_token.requestStop();
    ElapsedTicker::haltAll();
    m_form.setPartText(QStringLiteral("状态条1"), 1, message);
    AttemptRecord r;
    r.time = QDateTime::currentDateTime();
    r.result = QStringLiteral("run stopped");
    r.reason = message;
    runreport::append(r);
    // Shown from the user-interface thread: the lanes unwind meanwhile.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [message] { messagebox::show(message); }, Qt::QueuedConnection);
}

void UploadJob::runPass()
{
    const int count = m_table.rowCount();
    m_form.setText(QStringLiteral("分组框6"), QStringLiteral("账号列表（右键点击操作）当前有账号：%1个").arg(count));
    const int perAccount = m_form.isChecked(QStringLiteral("选择框_切换账号")) ? leadingInt(m_form.text(QStringLiteral("编辑框_单账号上传"))) : 1;
    m_form.setText(QStringLiteral("分组框_控制"), QStringLiteral("当前设置，每个账号发布%1个视频后切换").arg(perAccount));
    if (leadingInt(m_form.text(kSequence)) > count)
        m_form.setText(kSequence, QStringLiteral("1"));
    m_pass->begin(m_form.text(kSequence));
    {
        std::lock_guard lock(m_laneMutex);
        m_nextNumber = 1;
        m_inProgress.clear();
        m_browsersStarted = 0;
    }
    Lane first;
    first.session = &m_session;
    // Lanes 2 and up on threads of their own; lane 1 is this thread. A pass
    // ends when every lane has finished it.
    std::vector<std::unique_ptr<Lane>> others;
    std::vector<std::thread> threads;
    for (int number = 2; number <= std::min(m_lanes, std::max(count, 1)); ++number) {
        auto lane = std::make_unique<Lane>();
        lane->number = number;
        lane->ownState = std::make_unique<LaneState>(number);
        lane->ownSession = std::make_unique<BrowserSession>(m_session, *lane->ownState);
        lane->session = lane->ownSession.get();
        others.push_back(std::move(lane));
    }
    for (const auto &lane : others) {
        Lane *l = lane.get();
        threads.emplace_back([this, l, count, perAccount] {
            StopScope scope(m_token);
            diagnostics::setThreadName(laneThreadName("job", l->number));
            try {
                runLane(*l, count, perAccount);
            } catch (const JobStopped &) {
                // Lane 1 leaves its page as a stopped run always has; the
                // other lanes' browsers are extra and go, by the browser:
                // a Stop in the middle of opening or attaching finds the
                // lane with no page yet.
                l->session->closeBrowser();
            }
        });
    }
    const auto joinOthers = [&threads] {
        for (std::thread &t : threads)
            t.join();
    };
    try {
        runLane(first, count, perAccount);
    } catch (const JobStopped &) {
        joinOthers();
        throw;
    }
    joinOthers();
    checkStop();
    // Through to its end: the next Start or loop begins a pass of its own.
    m_pass->clear();
    // A pass over an empty list must not spin when looping.
    if (count == 0)
        DelayWait(900);
}

void UploadJob::runLane(Lane &lane, int count, int videosPerAccount)
{
    for (;;) {
        checkStop();
        const int number = takeAccount(count);
        if (number == 0)
            return;
        const QString id = m_table.cell(number - 1, AccountTable::AccountId);
        const bool ran = runAccount(lane, number, videosPerAccount);
        finishAccount(number, id, ran);
    }
}

int UploadJob::takeAccount(int count)
{
    std::lock_guard lock(m_laneMutex);
    // The box is read again at every account: the user may move it on.
    int number = std::max(m_nextNumber, leadingInt(m_form.text(kSequence)));
    // Accounts this pass has finished already (before a Stop or a restart)
    // publish no second quota (a later row with the same id is refused, and
    // says so, in runAccount).
    const auto finished = [this](int n) {
        const QString id = m_table.cell(n - 1, AccountTable::AccountId);
        return m_pass->isFinished(id) && m_table.rowOf(id) == n - 1;
    };
    while (number <= count && finished(number)) {
        qCInfo(lcUpload) << "account" << number << "has finished this pass already";
        ++number;
    }
    m_nextNumber = number + 1;
    if (number > count)
        return 0;
    m_inProgress.append(number);
    return number;
}

void UploadJob::finishAccount(int number, const QString &accountId, bool ran)
{
    {
        std::lock_guard lock(m_laneMutex);
        m_inProgress.removeOne(number);
        if (m_lanes > 1) {
            // The lowest account not finished yet: Stop then Start never
            // skips an account another lane had only half done.
            const int lowest = m_inProgress.isEmpty() ? std::min(m_nextNumber, m_table.rowCount() + 1)
                                                      : *std::min_element(m_inProgress.cbegin(), m_inProgress.cend());
            m_form.setText(kSequence, QString::number(lowest));
        }
        // With one lane the account's own end has moved the box on.
        if (ran)
            m_pass->finish(accountId, m_form.text(kSequence));
    }
    showRunStatus();
}

QString UploadJob::refusal(const JobAccount &account)
{
    const QString unsafe = accountid::whyUnsafe(account.id);
    if (!unsafe.isEmpty()) {
        // An empty id would mean another account's profile, and one that is
        // no plain name could reach outside the run directory.
        qCWarning(lcUpload).noquote() << "account" << account.row + 1 << "is not run: its id" << account.id << "cannot name its files --" << unsafe;
        m_table.setCell(account.row, AccountTable::Status, QStringLiteral("账号标识无效"));
        report(account, QString(), QString(), "skipped", QStringLiteral("the account id \"%1\" cannot be used: %2").arg(account.id, unsafe), 0, 0);
        return unsafe;
    }
    const int first = m_table.rowOf(account.id);
    if (first >= 0 && first < account.row) {
        // A copied account file: two lanes on one profile would share one
        // browser, and one lane's file would go into the other's form.
        const QString reason = QStringLiteral("account %1 has the id %2 of account %3; one profile is never run twice").arg(account.row + 1).arg(account.id).arg(first + 1);
        qCWarning(lcUpload).noquote() << reason;
        m_table.setCell(account.row, AccountTable::Status, QStringLiteral("账号标识重复"));
        report(account, QString(), QString(), "skipped", reason, 0, 0);
        return reason;
    }
    return {};
}

void UploadJob::waitForMemory(int row, const QString &accountId)
{
    bool said = false;
    for (;;) {
        const int needed = ServiceConfig::load().lanesMinFreeMb;
        const qint64 available = availableMemoryMb();
        {
            std::lock_guard lock(m_laneMutex);
            if (available < 0 || available >= needed || m_browsersStarted == 0) {
                ++m_browsersStarted;
                break;
            }
        }
        if (!said) {
            qCInfo(lcUpload).noquote() << "account" << row + 1 << "waits for memory:" << available << "MiB available," << needed << "MiB needed for a browser";
            said = true;
        }
        m_table.setCellOf(accountId, row, AccountTable::Status, QStringLiteral("等待内存"));
        if (m_token.waitFor(2000))
            checkStop();
    }
    if (said)
        m_table.setCellOf(accountId, row, AccountTable::Status, QString());
}

void UploadJob::showRunStatus()
{
    // Once the run stopped itself, its message stays.
    if (m_lanes <= 1 || m_stoppedOnFailures)
        return;
    QString text;
    {
        std::lock_guard lock(m_laneMutex);
        text = QStringLiteral("%1个账号同时运行，已发布%2个，失败%3个").arg(m_inProgress.size()).arg(m_published).arg(m_failed);
    }
    m_form.setPartText(QStringLiteral("状态条1"), 1, text);
}

bool UploadJob::runAccount(Lane &lane, int number, int videosPerAccount)
{
    const int row = number - 1;
    // The lane's own snapshot of the account for its whole turn, from one
    // read of its row: the user selecting, moving, deleting or reloading rows
    // never redirects it (and the lane never moves the window's row).
    const QStringList cells = m_table.row(row);
    JobAccount account;
    account.row = row;
    account.id = cells.value(AccountTable::AccountId);
    account.folder = cells.value(AccountTable::Folder);
    const QString id = account.id;
    if (!refusal(account).isEmpty()) {
        if (m_lanes == 1)
            m_form.setText(kSequence, QString::number(number + 1));
        DelayWait(900);
        return false;
    }
    // A browser on a Grid node or behind an endpoint takes none of this
    // machine's memory.
    if (m_lanes > 1 && AccountBrowser::parse(accounts::browserTextOf(id.isEmpty() ? QStringLiteral("100") : id).value_or(QString())).isLocal())
        waitForMemory(row, id);
    const auto guardDone = qScopeGuard([this] {
        if (m_lanes > 1) {
            std::lock_guard lock(m_laneMutex);
            --m_browsersStarted;
        }
    });
    emit accountStarted(row, id);
    showRunStatus();
    for (int attempt = 0; attempt < videosPerAccount; ++attempt) {
        // A logged-out account would only wait out the limit again and again.
        if (runOneAttempt(lane, account) == AttemptEnd::SkipAccount) {
            qCWarning(lcUpload) << "account" << number << "cannot publish now; its remaining attempts of this round are skipped";
            break;
        }
        DelayWait(900);
    }
    // With several lanes the box shows the lowest account not finished yet
    // (finishAccount).
    if (m_lanes == 1)
        m_form.setText(kSequence, QString::number(number + 1));
    // By the browser: a crashed or closed tab has left the lane without a
    // page while its browser (a gigabyte) lives on.
    lane.session->closeBrowser();
    DelayWait(900);
    if (m_form.isChecked(QStringLiteral("选择框_2账号间隔")))
        DelayWait(leadingInt(m_form.text(QStringLiteral("编辑框_账号间隔"))), 1);
    processPendingEvents();
    return true;
}

void UploadJob::noteOutcome(const JobAccount &account, Outcome outcome, const QString &failureKey, const QString &stepName, const QString &missingRole)
{
    const int limit = ServiceConfig::load().lanesSameFailureStop;
    QString message;
    {
        std::lock_guard lock(m_laneMutex);
        if (outcome == Outcome::Published) {
            ++m_published;
            m_failureKey.clear();
            m_failureStreak = 0;
        } else {
            ++m_failed;
        }
        if (outcome == Outcome::Failed) {
            m_failureStreak = failureKey == m_failureKey ? m_failureStreak + 1 : 1;
            m_failureKey = failureKey;
            if (limit > 0 && m_failureStreak >= limit && !m_stoppedOnFailures.exchange(true))
                message = QStringLiteral("连续%1个视频在同一步骤失败（%2），已停止，请检查发布页面是否改版").arg(m_failureStreak).arg(stepName)
                    + (missingRole.isEmpty() ? QString() : QStringLiteral("：找不到 ") + missingRole);
        }
    }
    showRunStatus();
    if (message.isEmpty())
        return;
    qCCritical(lcUpload).noquote() << "run stopped by itself:" << limit << "attempts in a row failed at" << failureKey << "--" << message;
    stopByItself(message);
    alert(runalerts::Cause::RunStoppedOnFailures, account.id, account.row, message);
    emit stoppedByRepeatedFailures(message);
}

void UploadJob::alert(runalerts::Cause cause, const QString &accountId, int row, const QString &reason)
{
    runalerts::raise(cause, accountId, m_table.cellOf(accountId, row, AccountTable::Nickname), reason);
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

std::optional<QDateTime> UploadJob::scheduledTimeFor(const JobAccount &account)
{
    if (!m_form.isChecked(QStringLiteral("选择框_定时发布")) || m_form.isChecked(QStringLiteral("选择框_保存草稿")))
        return QDateTime();
    QString why;
    const std::optional<QList<QTime>> times = publishschedule::parseTimes(m_form.text(QStringLiteral("编辑框_定时时间")), &why);
    const auto studio = studio::StudioDescriptions::instance().current();
    const int lead = studio->has(studio::Role::ScheduleMinLeadMinutes) ? studio->number(studio::Role::ScheduleMinLeadMinutes) : 0;
    const int days = studio->has(studio::Role::ScheduleMaxDays) ? studio->number(studio::Role::ScheduleMaxDays) : 14;
    std::optional<QDateTime> next;
    if (times) {
        // One lane per account at a time: its last scheduled time cannot move meanwhile.
        const QDateTime last = publishschedule::fromJournalText(m_journal->lastScheduledOf(account.id));
        next = publishschedule::nextTime(*times, last, QDateTime::currentDateTime(), lead, days);
        if (!next)
            why = QStringLiteral("no listed time after %1 lies between %2 minutes and %3 days from now").arg(last.isValid() ? last.toString(Qt::ISODate) : QStringLiteral("now")).arg(lead).arg(days);
    }
    if (next)
        return next;
    const QString rowText = times ? QStringLiteral("定时发布时间已排满") : QStringLiteral("定时发布时间格式不正确");
    qCWarning(lcUpload).noquote() << "account" << account.id << "publishes nothing this round: scheduled publishing is on and" << why;
    setRowText(account, AccountTable::Status, rowText);
    report(account, QString(), QString(), "no video", QStringLiteral("scheduled publishing: %1").arg(why), 0, 0);
    return std::nullopt;
}

UploadJob::AttemptEnd UploadJob::runOneAttempt(Lane &lane, const JobAccount &turn)
{
    JobAccount account = turn;
    const int row = account.row;
    // Only an empty folder falls back to the default one: a folder that is
    // set and missing (a drive or share offline) is never replaced by the
    // folder of whichever row the user clicked last.
    if (account.folder.isEmpty()) {
        account.folder = m_form.text(QStringLiteral("编辑框_视频素材目录"));
    } else if (!QFileInfo::exists(account.folder)) {
        qCWarning(lcUpload).noquote() << "account" << row + 1 << "publishes nothing this round: its material folder" << account.folder << "does not exist";
        setRowText(account, AccountTable::Status, QStringLiteral("素材目录不存在"));
        report(account, QString(), QString(), "no video", QStringLiteral("the material folder %1 does not exist").arg(account.folder), 0, 0);
        return AttemptEnd::SkipAccount;
    }
    const QString video = claimVideo(account, account.folder);
    const auto release = qScopeGuard([this, &video] { releaseVideo(video); });
    if (video.isEmpty() || !QFileInfo::exists(video)) {
        qCInfo(lcUpload).noquote() << "account" << row + 1 << "has no video to publish in" << account.folder;
        report(account, QString(), QString(), "no video", account.folder, 0, 0);
        DelayWait(900);
        return AttemptEnd::GoOn;
    }
    const Settled settled = settleKnownVideo(lane, account, video);
    if (settled != Settled::No) {
        DelayWait(900);
        return settled == Settled::YesLoggedOut ? AttemptEnd::SkipAccount : AttemptEnd::GoOn;
    }
    qCInfo(lcUpload).noquote() << QStringLiteral("account %1 (id %2): video").arg(row + 1).arg(account.id) << video;
    // The job context is lane 1's: the other lanes keep theirs to themselves.
    AccountDocument &context = accountDocument();
    const bool firstLane = lane.number == 1;
    if (firstLane) {
        context.setValue(QStringLiteral("当前索引"), QString::number(row));
        context.setValue(QStringLiteral("视频路径"), video);
        context.setValue(QStringLiteral("缓存id"), account.id);
    }
    const int published = leadingInt(m_table.cellOf(account.id, row, AccountTable::PublishedToday));

    // Who the video is goes into the journal before the first press of
    // publish; its hash is worked out while the upload runs.
    const QFileInfo file(video);
    VideoIdentity identity;
    identity.size = file.size();
    identity.name = file.fileName();
    identity.account = account.id;
    const std::optional<QDateTime> scheduled = scheduledTimeFor(account);
    if (!scheduled)
        return AttemptEnd::SkipAccount;
    identity.scheduledAt = scheduled->isValid() ? publishschedule::journalText(*scheduled) : QString();
    BackgroundHash hash(video);

    lane.state().elapsedSeconds = 0;
    bool ok = false;
    bool landingRecorded = false;
    bool knownByHash = false;
    UploadOutcome outcome = UploadOutcome::Failed;
    FailureFacts evidenceFacts;
    QString failureKey;
    QString missingRole;
    QElapsedTimer wall;
    wall.start();
    const qint64 waitedBefore = waitedOnThisThread();
    {
        const auto ticker = ElapsedTicker::start(m_table, row, account.id, lane.state());
        if (firstLane)
            context.setValue(QStringLiteral("耗时句柄"), QString::number(ticker->id()));
        setRowText(account, AccountTable::Publishing, video);
        videofiles::placeRandomCover(m_form, video);
        emit videoStarted(row, video);
        UploadPipeline pipeline(m_form, m_library, *lane.session, m_origin);
        pipeline.setVideo(account, video, ticker->id());
        pipeline.setScheduledTime(*scheduled);
        // One choice per attempt: the title typed is the one the journal
        // and the report keep, and a library in order moves on once.
        const TitleChoice title = m_titles->choose(video);
        if (title.libraryEmpty && m_titles->firstEmptyThisRun()) {
            qCWarning(lcUpload) << "the title library (编辑框3) is empty; videos are titled by their file names";
            setRowText(account, AccountTable::Status, QStringLiteral("标题库为空，使用文件名"));
        }
        identity.title = title.title;
        pipeline.setTitle(identity.title);
        pipeline.setVideoTags(title.tags);
        SubmitHooks hooks;
        hooks.beforeSubmit = [&] {
            if (identity.sha256Hex.isEmpty())
                identity.sha256Hex = hash.result();
            // Its bytes decide, not its name: a used clip put back under
            // another name is the same video of this account.
            const JournalState before = identity.sha256Hex.isEmpty() ? JournalState::None : m_journal->stateOf(identity.sha256Hex, identity.size, account.id);
            if (before == JournalState::Published || before == JournalState::Draft || before == JournalState::Disposed || before == JournalState::Submitting) {
                qCWarning(lcUpload).noquote() << "video" << video << "not submitted: account" << account.id << "has submitted these bytes before, as"
                                              << m_journal->find(identity.sha256Hex, identity.size, account.id).value_or(VideoIdentity{}).name;
                knownByHash = true;
                return false;
            }
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
        hooks.pageReady = [&](int page) { return pageCheckedOn(page, account.id); };
        hooks.afterLanding = [&](bool draft) { landingRecorded = m_journal->record(identity, draft ? JournalState::Draft : JournalState::Published); };
        pipeline.setSubmitHooks(hooks);
        ok = pipeline.uploadOneVideo();
        outcome = pipeline.outcome();
        evidenceFacts = pipeline.evidence();
        evidenceFacts.step = pipeline.failedStep();
        evidenceFacts.reason = pipeline.failureReason();
        evidenceFacts.lastSeen = pipeline.lastSeen();
        failureKey = pipeline.failedStep() + (pipeline.abandoned() ? QStringLiteral(" / time limit") : QStringLiteral(" / failed"));
        missingRole = pipeline.missingRole();
        ticker->stop();
    }
    const qint64 wallMs = wall.elapsed();
    const qint64 waitMs = waitedOnThisThread() - waitedBefore;
    emit videoFinished(row, video, ok, wallMs, waitMs, m_runClock.elapsed(), waitedOnThisThread() - m_runWaitedBefore);
    if (knownByHash) {
        // Settled as a video the journal knows by name would have been.
        const Settled settled = settleKnownVideo(lane, account, video, identity.sha256Hex);
        return settled == Settled::YesLoggedOut ? AttemptEnd::SkipAccount : AttemptEnd::GoOn;
    }
    const bool draft = m_form.isChecked(QStringLiteral("选择框_保存草稿"));
    if (ok) {
        {
            std::lock_guard lock(m_laneMutex);
            m_refusals.remove(video);
        }
        noteOutcome(account, Outcome::Published);
        qCInfo(lcUpload).noquote() << "video" << video << (draft ? "saved as a draft" : "published") << "in" << wallMs / 1000.0 << "s";
        report(account, video, identity.title, draft ? "draft" : "published",
               identity.scheduledAt.isEmpty() ? QString() : QStringLiteral("scheduled for %1").arg(identity.scheduledAt), wallMs, waitMs);
        countDownAfterPublish(lane, account, video, identity, published, landingRecorded);
        return AttemptEnd::GoOn;
    }
    qCWarning(lcUpload).noquote() << "video" << video << "of account" << row + 1 << "failed after" << wallMs / 1000.0 << "s, and stays where it is";
    // A proxy that went down mid-upload looks like a refused file to the page.
    // So does a remote browser whose node went away.
    if (outcome != UploadOutcome::NodeFailed && outcome != UploadOutcome::ProxyFailed && lane.session->nodeUnusable(account)) {
        outcome = UploadOutcome::NodeFailed;
        evidenceFacts.reason = QStringLiteral("the browser node is not usable: %1 (%2)").arg(lane.session->nodeFailure(), evidenceFacts.reason);
    }
    if (outcome != UploadOutcome::ProxyFailed && outcome != UploadOutcome::NodeFailed && lane.session->proxyUnusable(account)) {
        outcome = UploadOutcome::ProxyFailed;
        evidenceFacts.reason = QStringLiteral("the proxy is not usable: %1 (%2)").arg(lane.session->proxyFailure(), evidenceFacts.reason);
    }
    const bool proxyFailed = outcome == UploadOutcome::ProxyFailed;
    const bool nodeFailed = outcome == UploadOutcome::NodeFailed;
    const bool loggedOut = outcome == UploadOutcome::LoggedOut;
    // No page of its own (its login window is open, its browser cannot
    // start) is the account's trouble, not a sign that the studio changed.
    const bool noPage = outcome == UploadOutcome::NoPage;
    setRowText(account, AccountTable::Status,
               nodeFailed    ? QStringLiteral("浏览器节点不可用")
               : proxyFailed ? QStringLiteral("代理不可用")
               : loggedOut   ? QStringLiteral("未登录")
                             : QStringLiteral("上传失败"));
    evidenceFacts.time = QDateTime::currentDateTime();
    evidenceFacts.accountId = account.id;
    evidenceFacts.video = video;
    evidence::save(evidenceFacts);
    report(account, video, identity.title,
           nodeFailed ? "browser node failed" : proxyFailed ? "proxy failed" : loggedOut ? "not logged in" : "failed", evidenceFacts.reason, wallMs, waitMs);
    const bool refused = outcome == UploadOutcome::Refused;
    if (loggedOut)
        alert(runalerts::Cause::LoginExpired, account.id, row);
    else if (proxyFailed)
        alert(runalerts::Cause::ProxyUnusable, account.id, row, lane.session->proxyFailure().isEmpty() ? evidenceFacts.reason : lane.session->proxyFailure());
    else if (nodeFailed)
        alert(runalerts::Cause::BrowserNodeUnusable, account.id, row, lane.session->nodeFailure().isEmpty() ? evidenceFacts.reason : lane.session->nodeFailure());
    noteOutcome(account, loggedOut || refused || proxyFailed || nodeFailed || noPage ? Outcome::FailedNotCounted : Outcome::Failed, failureKey,
                stepNameOf(evidenceFacts.step), missingRole);
    bool setAside = false;
    if (refused) {
        std::lock_guard lock(m_laneMutex);
        setAside = ++m_refusals[video] >= kRefusalsBeforeSetAside;
        if (setAside)
            m_refusals.remove(video);
    }
    if (setAside) {
        // A file the studio refuses again and again would block the account
        // for good in order mode: it goes aside and the account goes on.
        if (identity.sha256Hex.isEmpty())
            identity.sha256Hex = hash.result();
        const QString folder = videofiles::failedFolder(m_form);
        if (videofiles::moveWithCover(video, folder)) {
            const QString reason = QStringLiteral("the studio refused the file %1 times in a row (上传失败)").arg(kRefusalsBeforeSetAside);
            m_journal->record(identity, JournalState::Failed, reason);
            qCWarning(lcUpload).noquote() << "video" << video << "moved to" << folder << "--" << reason;
            report(account, video, identity.title, "set aside", reason, 0, 0);
        }
    }
    return loggedOut || proxyFailed || nodeFailed || noPage ? AttemptEnd::SkipAccount : AttemptEnd::GoOn;
}

QString UploadJob::claimKey(const QString &video)
{
    const QString path = QFileInfo(video).absoluteFilePath();
#ifdef Q_OS_WIN
    return path.toCaseFolded();
#else
    return path;
#endif
}

QString UploadJob::claimVideo(const JobAccount &account, const QString &folder)
{
    // One pick at a time: the listing, a shortened name and the claim go
    // together, so two lanes on one folder never leave with the same file.
    std::lock_guard pick(m_pickMutex);
    QSet<QString> passOver;
    {
        std::lock_guard lock(m_laneMutex);
        passOver = m_undisposable;
    }
    for (;;) {
        const QString video = videofiles::pickVideo(m_form, m_table, folder, account.row, passOver, account.id);
        if (video.isEmpty())
            return {};
        std::lock_guard lock(m_laneMutex);
        if (!m_claimed.contains(claimKey(video))) {
            m_claimed.insert(claimKey(video));
            return video;
        }
        passOver.insert(video); // another lane's: the next one
    }
}

void UploadJob::releaseVideo(const QString &video)
{
    if (video.isEmpty())
        return;
    std::lock_guard lock(m_laneMutex);
    m_claimed.remove(claimKey(video));
}

UploadJob::Settled UploadJob::settleKnownVideo(Lane &lane, const JobAccount &account, const QString &video, const QByteArray &sha256Hex)
{
    // The cheap test first: only a file whose size and name the journal
    // knows is hashed.
    const QFileInfo file(video);
    if (sha256Hex.isEmpty() && !m_journal->mayHold(file.size(), file.fileName()))
        return Settled::No;
    const QByteArray sha = sha256Hex.isEmpty() ? sha256OfFile(video) : sha256Hex;
    // The same clip in another account's folder is another video.
    const JournalState state = m_journal->stateOf(sha, file.size(), account.id);
    const std::optional<VideoIdentity> known = m_journal->find(sha, file.size(), account.id);
    if (!known || state == JournalState::None || state == JournalState::Held || state == JournalState::Failed)
        return Settled::No; // new to the studio, or put back by the user: it goes out
    if (state != JournalState::Submitting) {
        // Published by this account before and back in its folder (a sync
        // tool restoring it, a copy put back): never again, never silently.
        const QString when = known->publishedAt.isValid() ? known->publishedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
        qCWarning(lcUpload).noquote() << "video" << video << "was published by account" << account.id << (when.isEmpty() ? QString() : QStringLiteral("on ") + when)
                                      << "as" << known->title << "; it is not uploaded again";
        setRowText(account, AccountTable::Status, when.isEmpty() ? QStringLiteral("已发布过") : QStringLiteral("已于%1发布过").arg(when));
        report(account, video, known->title, "already published", when.isEmpty() ? QStringLiteral("published before") : QStringLiteral("published on %1").arg(when), 0, 0);
        disposeOfPublished(account, video, *known);
        return Settled::Yes;
    }
    // Submitted, and then the program ended (or the landing never came)
    // before the landing address was seen: the studio may or may not have it.
    switch (askStudio(*lane.session, account, known->title)) {
    case StudioAnswer::InStudio:
        qCWarning(lcUpload).noquote() << "video" << video << "was submitted without a landing and is in the studio as" << known->title;
        if (!m_journal->record(*known, JournalState::Published, QStringLiteral("found on the content page after a restart")))
            return Settled::Yes; // stays "submitting"; asked again at its next pick
        report(account, video, known->title, "published", QStringLiteral("submitted before; found in the studio"), 0, 0);
        disposeOfPublished(account, video, *known);
        return Settled::Yes;
    case StudioAnswer::NotInStudio: {
        const QString folder = videofiles::holdFolder(m_form);
        qCWarning(lcUpload).noquote() << "video" << video << "was submitted without a landing and is not in the studio; held in" << folder;
        if (videofiles::moveWithCover(video, folder))
            m_journal->record(*known, JournalState::Held, QStringLiteral("submitted, not found on the content pages"));
        setRowText(account, AccountTable::Status, QStringLiteral("待确认"));
        report(account, video, known->title, "held", QStringLiteral("submitted before; not on the content pages"), 0, 0);
        return Settled::Yes;
    }
    case StudioAnswer::CannotTell:
        break;
    }
    // Nothing is decided while the studio cannot be asked: the video stays
    // and is asked about again at its next pick.
    const bool loggedOut = lane.session->loggedOut();
    qCWarning(lcUpload).noquote() << "video" << video << "was submitted without a landing; the content pages of account" << account.id
                                  << "could not be read" << (loggedOut ? "(not logged in)" : "") << "so it stays where it is";
    setRowText(account, AccountTable::Status, loggedOut ? QStringLiteral("未登录") : QStringLiteral("无法确认是否已发布"));
    report(account, video, known->title, loggedOut ? "not logged in" : "unconfirmed",
           QStringLiteral("submitted before; the studio's content pages could not be read"), 0, 0);
    if (loggedOut)
        alert(runalerts::Cause::LoginExpired, account.id, account.row);
    return loggedOut ? Settled::YesLoggedOut : Settled::Yes;
}

UploadJob::StudioAnswer UploadJob::askStudio(BrowserSession &session, const JobAccount &account, const QString &title)
{
    if (title.isEmpty()) {
        qCWarning(lcUpload) << "a submitted video without a title cannot be looked up on the content pages";
        return StudioAnswer::CannotTell;
    }
    const int page = session.attachOrOpenBrowser(account);
    if (page <= 0 || session.loggedOut()) {
        qCWarning(lcUpload).noquote() << "no logged-in page of account" << account.id << "to read its content pages";
        return StudioAnswer::CannotTell;
    }
    int listed = 0;
    const auto studio = studio::StudioDescriptions::instance().current();
    for (const studio::Role tab : {studio::Role::ContentVideos, studio::Role::ContentDrafts}) {
        const QString address = m_origin + studio->path(tab);
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
    // Titles and selectors go in as JSON literals: page text never becomes code.
    const auto studio = studio::StudioDescriptions::instance().current();
    const auto literal = [](const QJsonValue &value) {
        return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1).trimmed();
    };
    const auto cssList = [&](studio::Role role) {
        QJsonArray list;
        for (const studio::Selector &s : studio->selectors(role))
            list.append(s.css);
        return literal(list);
    };
    const QString script = QStringLiteral(
                               "(() => { const all = l => { for (const s of l) { const f = document.querySelectorAll(s); if (f.length) return f; } return []; };"
                               " const items = all(%2);"
                               " if (!items.length && !all(%3).length) return -1;"
                               " let n = 0; for (const t of all(%4))"
                               " if (t.textContent.trim() === %1) ++n; return n; })()")
                               .arg(literal(title), cssList(studio::Role::ContentItem), cssList(studio::Role::ContentEmpty), cssList(studio::Role::ContentItemTitle));
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
    {
        std::lock_guard lock(m_laneMutex);
        m_undisposable.insert(video);
    }
    const bool deleting = m_form.isChecked(QStringLiteral("单选框_删除"));
    const QString reason = deleting ? QStringLiteral("published, but the file could not be deleted")
                                    : QStringLiteral("published, but the file could not be moved to %1").arg(m_form.text(QStringLiteral("编辑框_使用过视频目录")));
    qCWarning(lcUpload).noquote() << "video" << video << "--" << reason << "; it is not picked again";
    setRowText(account, AccountTable::Status, deleting ? QStringLiteral("已发布，删除失败") : QStringLiteral("已发布，移动失败"));
    report(account, video, identity.title, "not disposed", reason, 0, 0);
}

void UploadJob::countDownAfterPublish(Lane &lane, const JobAccount &account, const QString &videoPath, const VideoIdentity &identity, int published,
                                      bool landingRecorded)
{
    const int row = account.row;
    const int wait = static_cast<int>(QRandomGenerator::global()->bounded(6)) + leadingInt(m_form.text(QStringLiteral("编辑框_视频间隔")));
    setRowText(account, AccountTable::Status, QStringLiteral("延时%1秒后继续").arg(wait));
    QString after;
    if (landingRecorded) {
        disposeOfPublished(account, videoPath, identity);
        std::lock_guard lock(m_laneMutex);
        if (m_undisposable.contains(videoPath))
            after = m_table.cellOf(account.id, row, AccountTable::Status);
    } else {
        qCWarning(lcUpload).noquote() << "video" << videoPath << "stays where it is: its publish could not be recorded in the journal";
        after = QStringLiteral("已发布，未记录");
    }
    if (after.isEmpty() && !identity.scheduledAt.isEmpty())
        after = QStringLiteral("定时发布：") + publishschedule::fromJournalText(identity.scheduledAt).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    for (int k = 1; k <= wait; ++k) {
        const QString text = QStringLiteral("延时%1秒后继续").arg(wait - k);
        setRowText(account, AccountTable::Status, text);
        m_library.form_set_window_title(lane.state().pageId, text);
        DelayWait(1, 1);
        processPendingEvents();
    }
    // What went wrong with the used file outlives the countdown.
    setRowText(account, AccountTable::Status, after);
    setRowText(account, AccountTable::PublishedToday, QString::number(published + 1));
}
