#pragma once

// Internal to net/: the shared state and threads of one segmented download.

#include "net/segmented_downloader.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class QFile;

namespace net {

class DownloadTask final {
public:
    enum class State { Running, Paused, Stopped, Failed };

    DownloadTask(int number, QString url, QString path, qint64 total, int segments,
                 SegmentedDownloader::ProgressCallback callback);
    ~DownloadTask(); // waits for the controller
    DownloadTask(const DownloadTask &) = delete;
    DownloadTask &operator=(const DownloadTask &) = delete;

    // Starts the controller thread; false when it cannot be started.
    bool start();
    void pause();
    void resume();
    void stop();
    // True once the controller has made its final call (or none) and ended.
    bool hasEnded() const { return m_ended; }
    // Waits for the controller thread to end.
    void join();

    // The request headers every request of a download carries, without CR LF;
    // they ask caches on the way for fresh data.
    static const QList<QByteArray> &defaultHeaders();

private:
    friend struct BlockTransfer;

    void runController();
    void runWorker();
    // Takes the next block number, waiting while paused; 0 when there is none
    // to take or the task no longer runs.
    qint64 takeBlock();
    // False when the block failed; a stopped task is no failure.
    bool fetchBlock(CURL *handle, QFile &file, qint64 block);
    void fail();
    State state() const;
    // Holds the calling worker while the task is paused; false when the task
    // no longer runs.
    bool waitWhilePaused(bool *paused = nullptr);
    void addDone(qint64 bytes);

    const int m_number;
    const QString m_url;
    const QString m_path;
    const qint64 m_total;
    const qint64 m_blockCount;
    const int m_segments;
    const SegmentedDownloader::ProgressCallback m_callback;

    mutable std::mutex m_lock; // guards m_state and m_started
    std::condition_variable m_stateChanged;
    State m_state = State::Running;
    qint64 m_started = 0;

    std::mutex m_callbackLock; // guards m_done and keeps calls apart
    qint64 m_done = 0;

    std::thread m_controller;
    std::atomic<bool> m_ended = false;
};

} // namespace net
