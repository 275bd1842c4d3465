#include "upload/upload_job.h"

#include "accounts/account_document.h"
#include "accounts/account_table.h"
#include "base/diagnostic_log.h"
#include "base/service_config.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "upload/elapsed_ticker.h"
#include "upload/job_state.h"
#include "upload/log.h"
#include "upload/upload_pipeline.h"
#include "upload/video_files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

namespace {
const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");
const QString kSequence = QStringLiteral("编辑框_账号序列");
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
    }
}

void UploadJob::runUploadJob()
{
    StopScope scope(m_token);
    diagnostics::setThreadName("job");
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
    currentRow = number - 1;
    emit accountStarted(currentRow, m_table.cell(currentRow, AccountTable::AccountId));
    for (int attempt = 0; attempt < videosPerAccount; ++attempt) {
        runOneAttempt();
        DelayWait(900);
    }
    m_form.setText(kSequence, QString::number(number + 1));
    m_library.form_close_browser(currentPageId);
    DelayWait(900);
    if (m_form.isChecked(QStringLiteral("选择框_2账号间隔")))
        DelayWait(leadingInt(m_form.text(QStringLiteral("编辑框_账号间隔"))), 1);
    processPendingEvents();
}

void UploadJob::runOneAttempt()
{
    const int row = currentRow;
    QString folder = m_table.cell(row, AccountTable::Folder);
    if (folder.isEmpty() || !QFileInfo::exists(folder))
        folder = m_form.text(QStringLiteral("编辑框_视频素材目录"));
    const QString video = videofiles::pickVideo(m_form, m_table, folder);
    if (video.isEmpty() || !QFileInfo::exists(video)) {
        qCInfo(lcUpload).noquote() << "account" << row + 1 << "has no video to publish in" << folder;
        DelayWait(900);
        return;
    }
    qCInfo(lcUpload).noquote() << QStringLiteral("account %1 (id %2): video").arg(row + 1).arg(m_table.cell(row, AccountTable::AccountId)) << video;
    AccountDocument &context = accountDocument();
    context.setValue(QStringLiteral("当前索引"), QString::number(row));
    context.setValue(QStringLiteral("视频路径"), video);
    context.setValue(QStringLiteral("缓存id"), m_table.cell(row, AccountTable::AccountId));
    const int published = leadingInt(m_table.cell(row, AccountTable::PublishedToday));

    elapsedSeconds = 0;
    bool ok = false;
    QElapsedTimer wall;
    wall.start();
    const qint64 waitedBefore = waitedOnThisThread();
    {
        const auto ticker = ElapsedTicker::start(m_table);
        context.setValue(QStringLiteral("耗时句柄"), QString::number(ticker->id()));
        m_table.setCell(row, AccountTable::Publishing, video);
        videofiles::placeRandomCover(m_form, video);
        emit videoStarted(row, video);
        UploadPipeline pipeline(m_form, m_library, m_session, m_origin);
        ok = pipeline.uploadOneVideo();
        ticker->stop();
    }
    emit videoFinished(row, video, ok, wall.elapsed(), waitedOnThisThread() - waitedBefore, m_runClock.elapsed(),
                       waitedOnThisThread() - m_runWaitedBefore);
    if (ok) {
        qCInfo(lcUpload).noquote() << "video" << video << (m_form.isChecked(QStringLiteral("选择框_保存草稿")) ? "saved as a draft" : "published") << "in"
                                   << wall.elapsed() / 1000.0 << "s";
        countDownAfterPublish(video, published);
    } else {
        qCWarning(lcUpload).noquote() << "video" << video << "of account" << row + 1 << "failed after" << wall.elapsed() / 1000.0 << "s, and stays where it is";
        m_table.setCell(row, AccountTable::Status, QStringLiteral("上传失败"));
    }
}

void UploadJob::countDownAfterPublish(const QString &videoPath, int published)
{
    const int row = currentRow;
    const int wait = static_cast<int>(QRandomGenerator::global()->bounded(6)) + leadingInt(m_form.text(QStringLiteral("编辑框_视频间隔")));
    m_table.setCell(row, AccountTable::Status, QStringLiteral("延时%1秒后继续").arg(wait));
    videofiles::disposeUsedVideo(m_form, videoPath);
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
