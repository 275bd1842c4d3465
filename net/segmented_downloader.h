#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace net {

class DownloadTask;

// Fetches one file over HTTP(S) in blocks of 1 MiB, each block by its own
// range request, with at most `segments` worker threads per task. Each worker
// writes its bytes straight into the target file at their offsets; the file is
// never held in memory. A task is finished only when every byte arrived.
class SegmentedDownloader final {
public:
    enum Status { Failed = -1, Finished = 0, Progress = 1 };

    // (task number, status, total bytes, bytes done). Progress calls come from
    // the worker threads, the one final call (Finished with done == total, or
    // Failed with 0, 0) from the task's controller thread; a stopped task gets
    // no final call. Calls for one task never overlap, `done` never decreases
    // from one call to the next, and the final call is the last. Keep the
    // callback short (it holds up that worker) and never destroy the
    // downloader from inside it.
    using ProgressCallback = std::function<void(int task, int status, qint64 total, qint64 done)>;

    static constexpr qint64 kBlockSize = 1 << 20;

    SegmentedDownloader();
    // Stops every task and waits until its threads have ended.
    ~SegmentedDownloader();
    SegmentedDownloader(const SegmentedDownloader &) = delete;
    SegmentedDownloader &operator=(const SegmentedDownloader &) = delete;

    // Starts a download and returns its task number (1, 2, ... in the order of
    // the calls; a failed start uses up its number too). Returns 0 when the
    // server gives no content length or 0, leaving an empty target file and
    // starting no thread; -1 when the server cannot be reached, answers with an
    // error status, or the target file cannot be created. When `path` has no
    // extension, the file name from the URL is appended to it. Blocks until
    // the server has answered the first request.
    int download(const QString &url, const QString &path, int segments, ProgressCallback callback);

    // Pause holds every worker after its current chunk, resume lets them go
    // on, stop ends the task without a final call. Unknown or ended tasks are
    // ignored. Safe from any thread, also from inside the callback.
    void pause(int task);
    void pauseAll();
    void stop(int task);
    void stopAll();
    void resume(int task);
    void resumeAll();

    // The file name the server gives for a URL: its Content-Location when it
    // sends one (redirects are not followed), else the URL's last path
    // component, without a query.
    static QString fileNameFromUrl(const QString &url);
    // Where a download of `url` to `path` is written (see download()).
    static QString targetPath(const QString &url, const QString &path);

private:
    std::shared_ptr<DownloadTask> taskAt(int task) const;
    template<typename Change>
    void forEachTask(Change change) const;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<DownloadTask>> m_tasks; // null for a failed start
};

} // namespace net
