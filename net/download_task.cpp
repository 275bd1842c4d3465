#include "net/download_task.h"

#include "net/curl_exchange.h"
#include "net/log.h"

#include <QFile>

#include <algorithm>
#include <vector>

namespace net {

namespace {

constexpr long kConnectTimeoutMs = 30000;
constexpr long kStallMs = 30000; // a block whose server sends nothing that long fails
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr int kRetriesAfterPause = 3;  // a connection that died while paused is opened again

} // namespace

// The state of one range request: where its bytes go and what the server said.
struct BlockTransfer {
    DownloadTask *task = nullptr;
    QFile *file = nullptr;
    qint64 position = 0; // next byte of the file to write
    qint64 end = 0;      // one past the block's last byte in the file
    int status = 0;
    qint64 rangeStart = -1;
    qint64 rangeTotal = -1;
    bool checked = false;
    bool pausedMeanwhile = false;
    detail::HeadLines head;

    // The answer must be exactly the range asked for, or the whole file when
    // that is the block.
    bool answerFits() const
    {
        if (status == 206)
            return rangeStart == position && (rangeTotal < 0 || rangeTotal == task->m_total);
        return status == 200 && position == 0 && end == task->m_total;
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<BlockTransfer *>(user);
        const size_t n = size * count;
        const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
        const detail::HeadLines::Kind kind = t->head.take(line);
        if (kind == detail::HeadLines::Kind::Status) {
            const QList<QByteArray> parts = line.split(' ');
            t->status = parts.size() > 1 ? parts[1].toInt() : 0;
            t->rangeStart = t->rangeTotal = -1;
        } else if (kind == detail::HeadLines::Kind::Header && line.left(14).compare("Content-Range:", Qt::CaseInsensitive) == 0) {
            // bytes first-last/total
            const QByteArray value = line.mid(14).trimmed();
            const qsizetype dash = value.indexOf('-');
            const qsizetype slash = value.indexOf('/');
            if (value.startsWith("bytes ") && dash > 6 && slash > dash) {
                bool ok = false;
                const qint64 start = value.mid(6, dash - 6).trimmed().toLongLong(&ok);
                t->rangeStart = ok ? start : -1;
                const qint64 total = value.mid(slash + 1).trimmed().toLongLong(&ok);
                t->rangeTotal = ok ? total : -1;
            }
        }
        return n;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *t = static_cast<BlockTransfer *>(user);
        const qint64 n = qint64(size * count);
        if (!t->checked) {
            if (!t->answerFits())
                return 0;
            t->checked = true;
        }
        // Never a byte outside the block.
        if (n > t->end - t->position) {
            qCWarning(lcNet) << "the server sent more than the block asked for";
            return 0;
        }
        if (t->file->write(data, n) != n) {
            qCWarning(lcNet) << "cannot write the download" << t->file->fileName() << "--" << t->file->errorString();
            return 0;
        }
        t->position += n;
        t->task->addDone(n);
        bool paused = false;
        const bool running = t->task->waitWhilePaused(&paused);
        t->pausedMeanwhile = t->pausedMeanwhile || paused;
        return running ? size_t(n) : 0;
    }

    static int onTick(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        auto *t = static_cast<BlockTransfer *>(user);
        const DownloadTask::State s = t->task->state();
        return s == DownloadTask::State::Stopped || s == DownloadTask::State::Failed ? 1 : 0;
    }
};

DownloadTask::DownloadTask(int number, QString url, QString path, qint64 total, int segments,
                           SegmentedDownloader::ProgressCallback callback)
    : m_number(number)
    , m_url(std::move(url))
    , m_path(std::move(path))
    , m_total(total)
    , m_blockCount((total + SegmentedDownloader::kBlockSize - 1) / SegmentedDownloader::kBlockSize)
    , m_segments(int(std::clamp<qint64>(segments, 1, m_blockCount)))
    , m_callback(std::move(callback))
{
}

DownloadTask::~DownloadTask()
{
    join();
}

void DownloadTask::join()
{
    if (m_controller.joinable())
        m_controller.join();
}

const QList<QByteArray> &DownloadTask::defaultHeaders()
{
    static const QList<QByteArray> headers = {
        "Accept: */*",
        "Accept-Language: zh-cn",
        "Accept-Encoding: gzip, deflate",
        "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)",
        // Fresh data, never a cache's copy: the update file changes under the same address.
        "Cache-Control: no-cache",
        "Pragma: no-cache",
    };
    return headers;
}

bool DownloadTask::start()
{
    try {
        m_controller = std::thread([this] { runController(); });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void DownloadTask::pause()
{
    const std::lock_guard lock(m_lock);
    if (m_state == State::Running)
        m_state = State::Paused;
}

void DownloadTask::resume()
{
    {
        const std::lock_guard lock(m_lock);
        if (m_state == State::Paused)
            m_state = State::Running;
    }
    m_stateChanged.notify_all();
}

void DownloadTask::stop()
{
    {
        const std::lock_guard lock(m_lock);
        if (m_state == State::Running || m_state == State::Paused)
            m_state = State::Stopped;
    }
    m_stateChanged.notify_all();
}

void DownloadTask::fail()
{
    {
        const std::lock_guard lock(m_lock);
        if (m_state == State::Running || m_state == State::Paused)
            m_state = State::Failed;
    }
    m_stateChanged.notify_all();
}

DownloadTask::State DownloadTask::state() const
{
    const std::lock_guard lock(m_lock);
    return m_state;
}

bool DownloadTask::waitWhilePaused(bool *paused)
{
    std::unique_lock lock(m_lock);
    if (paused)
        *paused = m_state == State::Paused;
    m_stateChanged.wait(lock, [this] { return m_state != State::Paused; });
    return m_state == State::Running;
}

qint64 DownloadTask::takeBlock()
{
    if (!waitWhilePaused())
        return 0;
    const std::lock_guard lock(m_lock);
    if (m_state != State::Running || m_started >= m_blockCount)
        return 0;
    return ++m_started;
}

void DownloadTask::addDone(qint64 bytes)
{
    const std::lock_guard lock(m_callbackLock);
    m_done += bytes;
    if (m_callback)
        m_callback(m_number, SegmentedDownloader::Progress, m_total, m_done);
}

void DownloadTask::runController()
{
    std::vector<std::thread> workers;
    for (int i = 0; i < m_segments; ++i) {
        try {
            workers.emplace_back([this] { runWorker(); });
        } catch (const std::system_error &) {
            fail();
            break;
        }
    }
    for (std::thread &worker : workers)
        worker.join();

    const State last = state();
    {
        const std::lock_guard lock(m_callbackLock);
        if (last != State::Stopped && m_callback) {
            if (last != State::Failed && m_done == m_total)
                m_callback(m_number, SegmentedDownloader::Finished, m_total, m_done);
            else
                m_callback(m_number, SegmentedDownloader::Failed, 0, 0);
        }
    }
    m_ended = true;
}

void DownloadTask::runWorker()
{
    const detail::CurlHandle handle = detail::newCurlHandle();
    QFile file(m_path);
    if (!handle || !file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        if (handle)
            qCWarning(lcNet) << "cannot open the download" << m_path << "--" << file.errorString();
        fail();
        return;
    }
    while (const qint64 block = takeBlock()) {
        if (!fetchBlock(handle.get(), file, block)) {
            fail();
            return;
        }
    }
}

bool DownloadTask::fetchBlock(CURL *h, QFile &file, qint64 block)
{
    const qint64 first = SegmentedDownloader::kBlockSize * (block - 1);
    // The last block asks past the end of the file; the server stops at the end.
    const qint64 last = SegmentedDownloader::kBlockSize * block - 1;
    BlockTransfer transfer;
    transfer.task = this;
    transfer.file = &file;
    transfer.position = first;
    transfer.end = std::min(first + SegmentedDownloader::kBlockSize, m_total);
    const QByteArray url = detail::urlBytes(m_url);

    for (int attempt = 0;; ++attempt) {
        if (!file.seek(transfer.position))
            return false;
        detail::HeaderList headers(defaultHeaders());
        headers.append("Range:bytes=" + QByteArray::number(transfer.position) + '-' + QByteArray::number(last));

        curl_easy_reset(h);
        detail::setTransferBasics(h, url, true);
        detail::setTransferTimeouts(h, kConnectTimeoutMs, kStallMs);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &BlockTransfer::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &BlockTransfer::onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &BlockTransfer::onTick);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
        transfer.checked = false;
        transfer.pausedMeanwhile = false;
        transfer.head = {};
        const CURLcode code = curl_easy_perform(h);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);

        // Only every byte of the block counts; a short answer is a failure.
        if (code == CURLE_OK && transfer.position == transfer.end)
            return true;
        if (state() != State::Stopped)
            qCWarning(lcNet).noquote() << "download of" << detail::urlForLog(url) << "stopped at byte" << transfer.position << "of a block ending at"
                                       << transfer.end << "-- curl" << int(code) << curl_easy_strerror(code);
        // A connection that died while the task was paused is opened again
        // for the rest of the block; a stop is no failure of the block.
        if (!transfer.pausedMeanwhile || attempt >= kRetriesAfterPause || !waitWhilePaused())
            return state() == State::Stopped;
    }
}

} // namespace net
