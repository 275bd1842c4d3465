#include "service/update_check.h"

#include "base/diagnostic_log.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "net/page_fetch.h"
#include "runlog/run_log.h"
#include "service/log.h"
#include "service/service_view.h"
#include "service/service_wait.h"
#include "service/studio_delivery.h"
#include "service/url_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcess>
#include <QUrl>

using namespace service;

namespace {

// Doubles as the update label shows them: shortest form, no fixed decimals.
QString numberText(double value)
{
    return QString::number(value, 'g', 15);
}

// A name the server gives for the new program file must stay a plain name in
// the run directory: no folders, no parent references, no drive or stream.
bool isBareFileName(const QString &name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c.unicode() < 0x20)
            return false;
    }
    return true;
}

bool isWebAddress(const QString &address)
{
    return address.startsWith(u"http://", Qt::CaseInsensitive) || address.startsWith(u"https://", Qt::CaseInsensitive);
}

} // namespace

UpdateCheck::UpdateCheck(ServiceView &view, const ServiceConfig &config)
    : m_view(view)
    , m_rootA(config.updateRootA)
    , m_rootB(config.updateRootB)
    , m_rootC(config.updateRootC)
    , m_quoteUrl(config.quoteUrl)
{
}

UpdateCheck::~UpdateCheck()
{
    wait();
}

void UpdateCheck::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] {
            diagnostics::setThreadName("startup");
            runStartupChecks();
        });
}

void UpdateCheck::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

QString UpdateCheck::updateRoot() const
{
    const QMutexLocker lock(&m_mutex);
    return m_updateRoot;
}

QString UpdateCheck::updateFilePath() const
{
    const QMutexLocker lock(&m_mutex);
    return m_updateFilePath;
}

bool UpdateCheck::showsDriveAdvice(const QString &runDirectory, bool driveLetters)
{
    return driveLetters && runDirectory.startsWith(u'C');
}

void UpdateCheck::runStartupChecks()
{
    runlog::appendRunLog(QStringLiteral("显示版本号") + LOCAL_VERSION);
    m_view.setStartStatus(0, QStringLiteral("版本v") + LOCAL_VERSION);
    const QString latest = checkLatestVersion();
    runlog::appendRunLog(QStringLiteral("版本检查结果1是最新版：") + latest);
    runlog::appendRunLog(QStringLiteral("基础信息读取完毕"));
    if (latest == u"0")
        runUpdate();
#ifdef Q_OS_WIN
    constexpr bool driveLetters = true;
#else
    constexpr bool driveLetters = false;
#endif
    if (showsDriveAdvice(rundir::path(), driveLetters))
        m_view.setUpdateLabel(QStringLiteral("建议不要把软件放在C盘或者桌面，可以避免80%的软件异常"));
    showDailyQuote();
}

QString UpdateCheck::checkLatestVersion() const
{
    const JsonFields info = readJsonFromUrl(m_rootA + APP_PATH_SEGMENT + QStringLiteral("/index.json"));
    return info.value(QStringLiteral("版本")) == LOCAL_VERSION ? QStringLiteral("1") : QStringLiteral("0");
}

void UpdateCheck::probeServers()
{
    const struct {
        QString root;
        QString message;
    } servers[] = {
        {m_rootA, QStringLiteral("华北多线服务器正常")},
        {m_rootB, QStringLiteral("广州服务器正常")},
        {m_rootC, QStringLiteral("上海服务器正常")},
    };
    QString root = m_rootA;
    QString message = QStringLiteral("服务器异常，尝试使用多线服务器连接");
    for (const auto &server : servers) {
        if (readUrlBytes(server.root + QStringLiteral("test.txt")) == "ok") {
            root = server.root;
            message = server.message;
            break;
        }
    }
    {
        const QMutexLocker lock(&m_mutex);
        m_updateRoot = root;
    }
    m_view.setStartStatus(1, message);
}

void UpdateCheck::runUpdate()
{
    probeServers();
    runlog::appendRunLog(QStringLiteral("启动升级程序检查"));
    const JsonFields info = readJsonFromUrl(updateRoot() + APP_PATH_SEGMENT + QStringLiteral("/index.json"));
    runlog::appendRunLog(QStringLiteral("升级文件获取到数据"));
    takeOfferedStudioDescription(info, updateRoot() + APP_PATH_SEGMENT + u'/');
    const QString version = info.value(QStringLiteral("版本"));
    const QString address = info.value(QStringLiteral("下载地址"));
    // Only a document that names another version and where to get it is an
    // offer; an unreachable server or an empty document is none.
    if (version.isEmpty() || version == LOCAL_VERSION || address.isEmpty()) {
        qCInfo(lcService).noquote() << "update check: no new version offered" << (version.isEmpty() ? QStringLiteral("(no version in the answer)") : QStringLiteral("(server has v") + version + u')');
        return;
    }
    const QString message = QStringLiteral("发现新版本：v") + version + QStringLiteral("，更新内容：\r\n")
        + info.value(QStringLiteral("更新说明"));
    runlog::appendRunLog(QStringLiteral("提醒用户升级"));
    if (messagebox::show(message, QStringLiteral("发现新版本，是否更新"), messagebox::Buttons::OkCancel) != messagebox::Answer::Ok)
        return;
    m_view.setUpdateLabel(QStringLiteral("开始更新"));
    const QString fileName = info.value(QStringLiteral("文件名"));
    const QString target = isWebAddress(address) ? downloadTarget(fileName, address) : QString();
    if (target.isEmpty()) {
        qCWarning(lcService).noquote() << "update refused: the file name" << fileName << "or the address" << QUrl(address).toString(QUrl::RemoveQuery)
                                       << "would not land in the run directory";
        m_view.setUpdateLabel(kUpdateFailedText);
        return;
    }
    {
        const QMutexLocker lock(&m_mutex);
        m_updateFilePath = target;
    }
    // The caption goes first: a short download can finish, and show the
    // button, on the downloader's thread before download() returns here.
    m_view.setOpenButtonCaption(QStringLiteral("打开：") + fileName);
    const int task = m_downloader.download(address, target, 2, [this](int t, int status, qint64 total, qint64 done) {
        showDownloadProgress(t, status, total, done);
    });
    if (task <= 0) {
        qCWarning(lcService) << "the update download did not start";
        m_view.setUpdateLabel(kUpdateFailedText);
    }
}

// Where the download really goes: the downloader appends the server's own
// file name to a path without extension, so the final path is checked too.
QString UpdateCheck::downloadTarget(const QString &fileName, const QString &address) const
{
    if (!isBareFileName(fileName))
        return {};
    const QString target = net::SegmentedDownloader::targetPath(address, rundir::join(fileName));
    const QFileInfo info(target);
    if (QDir::cleanPath(info.absolutePath()) != QDir::cleanPath(QFileInfo(rundir::path()).absoluteFilePath())
        || !isBareFileName(info.fileName()))
        return {};
    return target;
}

void UpdateCheck::showDownloadProgress(int, int status, qint64 total, qint64 done)
{
    if (status == net::SegmentedDownloader::Failed || total <= 0) {
        qCWarning(lcService) << "the update download failed after" << done << "of" << total << "bytes";
        m_view.setUpdateLabel(kUpdateFailedText);
        return;
    }
    const double percent = static_cast<double>(done) / static_cast<double>(total) * 100.0;
    m_view.setUpdateLabel(QStringLiteral("已下载：") + numberText(static_cast<double>(done) / 1024.0) + QStringLiteral("kb/")
                          + numberText(static_cast<double>(total) / 1024.0) + QStringLiteral("kb\r\n进度：")
                          + numberText(percent) + QStringLiteral("%"));
    // Only the downloader's final call vouches that every byte arrived.
    if (status == net::SegmentedDownloader::Finished && done == total)
        finishDownload();
}

void UpdateCheck::finishDownload()
{
    m_view.setUpdateLabel(QStringLiteral("更新结束"));
    pauseKeepingEvents(2000);
    const QString path = updateFilePath();
    const QFileInfo file(path);
    if (!file.isFile() || file.size() < 20) {
        qCWarning(lcService) << "the downloaded update" << path << "is missing or too small:" << file.size() << "bytes";
        m_view.setUpdateLabel(kUpdateFailedText);
        return;
    }
#ifndef Q_OS_WIN
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
#endif
    m_view.showOpenButton();
    if (m_removeDesktopLink)
        m_removeDesktopLink();
}

void UpdateCheck::openNewVersion()
{
    const QString path = updateFilePath();
    if (path.isEmpty())
        return;
    if (!QProcess::startDetached(path, {}, rundir::path()))
        qCWarning(lcService) << "cannot start the new version" << path;
    pauseKeepingEvents(2000);
    if (m_endProgram)
        m_endProgram();
}

void UpdateCheck::showDailyQuote()
{
    net::PageFetchOptions options;
    net::fetchPageText(m_quoteUrl, options);
    // The service answers UTF-8 whatever it declares; an error page is no quote.
    QString quote;
    if (options.statusText.startsWith(u'2'))
        quote = QString::fromUtf8(options.responseBytes).trimmed();
    else
        qCWarning(lcService).noquote() << "no daily quote:" << options.statusText;
    m_view.setStartStatus(2, QStringLiteral("   ") + quote);
}
