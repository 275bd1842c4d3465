#pragma once

#include "net/segmented_downloader.h"
#include "base/service_config.h"

#include <QMutex>
#include <QString>

#include <functional>
#include <thread>

class ServiceView;

namespace service {
// The program's version as the update servers compare it.
inline const QString LOCAL_VERSION = QStringLiteral("3.0");
// The program's folder on the update servers.
inline const QString APP_PATH_SEGMENT = QStringLiteral("up_quorl");
// Shown whenever an update cannot be completed.
inline const QString kUpdateFailedText = QStringLiteral("抱歉，自动更新失败，请到官网下载，下载后，把文件复制到当前目录");
} // namespace service

// The start-up checks: the version, an update offer with its download, the
// advice against drive C and the daily quote, run once on a thread of their
// own; and the open-new-version command of the start window.
class UpdateCheck final {
public:
    UpdateCheck(ServiceView &view, const ServiceConfig &config);
    // Waits for the check thread and stops a running download.
    ~UpdateCheck();
    UpdateCheck(const UpdateCheck &) = delete;
    UpdateCheck &operator=(const UpdateCheck &) = delete;

    // Removes the program's desktop link after an update has arrived.
    void setRemoveDesktopLink(std::function<void()> hook) { m_removeDesktopLink = std::move(hook); }
    // Ends the program once the new version has been started.
    void setEndProgram(std::function<void()> hook) { m_endProgram = std::move(hook); }

    // Runs runStartupChecks on a thread of its own; once per object.
    void start();
    // Waits until the thread of start() has ended.
    void wait();

    void runStartupChecks();
    void runUpdate();
    // "1" when server A offers exactly this version, else "0".
    QString checkLatestVersion() const;
    void showDownloadProgress(int task, int status, qint64 total, qint64 done);
    void showDailyQuote();
    void openNewVersion();

    QString updateRoot() const;
    QString updateFilePath() const;

    // Installations on drive C are advised against; systems without drive
    // letters never see the advice.
    static bool showsDriveAdvice(const QString &runDirectory, bool driveLetters);

private:
    void probeServers();
    QString downloadTarget(const QString &fileName, const QString &address) const;
    void finishDownload();

    ServiceView &m_view;
    QString m_rootA;
    QString m_rootB;
    QString m_rootC;
    QString m_quoteUrl;
    std::function<void()> m_removeDesktopLink;
    std::function<void()> m_endProgram;
    mutable QMutex m_mutex;
    QString m_updateRoot;
    QString m_updateFilePath;
    std::thread m_thread;
    // Last, so it is destroyed first: its threads call back into this object.
    net::SegmentedDownloader m_downloader;
};
