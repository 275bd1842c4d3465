#include "net/segmented_downloader.h"

#include "base/gbk.h"
#include "net/curl_exchange.h"
#include "net/download_task.h"
#include "net/log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace net {

namespace {

struct ProbeResult {
    bool answered = false;
    int status = 0;
    qint64 contentLength = -1;
    QList<QByteArray> headers;
    detail::HeadLines head;
};

size_t onProbeHeader(char *data, size_t size, size_t count, void *user)
{
    auto *r = static_cast<ProbeResult *>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    switch (r->head.take(line)) {
    case detail::HeadLines::Kind::Status:
        r->answered = true;
        r->headers.clear();
        break;
    case detail::HeadLines::Kind::Header:
        r->headers.append(line);
        break;
    case detail::HeadLines::Kind::End:
        break;
    }
    return size * count;
}

// The body is not wanted: the transfer ends at its first byte.
size_t onProbeBody(char *, size_t, size_t, void *)
{
    return 0;
}

// A GET that reads the response head only.
ProbeResult probe(const QString &url, const QList<QByteArray> &headerLines, bool followRedirects)
{
    ProbeResult result;
    const detail::CurlHandle handle = detail::newCurlHandle();
    if (!handle)
        return result;
    CURL *h = handle.get();
    const detail::HeaderList headers(headerLines);
    const QByteArray urlBytes = detail::urlBytes(url);
    detail::setTransferBasics(h, urlBytes, followRedirects);
    detail::setTransferTimeouts(h, 30000, 30000);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onProbeHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &result);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onProbeBody);
    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK && code != CURLE_WRITE_ERROR) {
        qCWarning(lcNet).noquote() << "download probe of" << detail::urlForLog(urlBytes) << "failed: curl" << int(code) << curl_easy_strerror(code);
        result.answered = false;
    }
    if (result.answered) {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        result.status = int(status);
        curl_off_t length = -1;
        curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        result.contentLength = length;
    }
    return result;
}

bool isSeparator(QChar c)
{
    return c == u'/' || c == QDir::separator();
}

} // namespace

SegmentedDownloader::SegmentedDownloader()
{
    detail::curlReady();
}

SegmentedDownloader::~SegmentedDownloader()
{
    stopAll();
    std::vector<std::shared_ptr<DownloadTask>> tasks;
    {
        const std::lock_guard lock(m_mutex);
        tasks = m_tasks;
    }
    for (const auto &task : tasks) {
        if (task)
            task->join();
    }
}

int SegmentedDownloader::download(const QString &url, const QString &path, int segments, ProgressCallback callback)
{
    int number = 0;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto &task : m_tasks) {
            if (task && task->hasEnded())
                task->join();
        }
        m_tasks.push_back(nullptr);
        number = int(m_tasks.size());
    }
    const QString target = targetPath(url, path);
    const ProbeResult head = probe(url, DownloadTask::defaultHeaders(), true);
    if (!head.answered)
        return -1;
    if (head.status >= 400) {
        qCWarning(lcNet).noquote() << "download of" << detail::urlForLog(detail::urlBytes(url)) << "refused: HTTP" << head.status;
        return -1;
    }
    const qint64 total = std::max<qint64>(head.contentLength, 0);

    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCWarning(lcNet) << "cannot write the download" << target << "--" << file.errorString();
        return -1;
    }
    if (total == 0)
        return 0;
    // The full length at once; parts never downloaded stay zero-filled.
    if (!file.resize(total)) {
        qCWarning(lcNet) << "cannot make room for" << total << "bytes in" << target << "--" << file.errorString();
        return -1;
    }
    file.close();

    auto task = std::make_shared<DownloadTask>(number, url, target, total, segments, std::move(callback));
    {
        const std::lock_guard lock(m_mutex);
        m_tasks[number - 1] = task;
    }
    if (!task->start()) {
        const std::lock_guard lock(m_mutex);
        m_tasks[number - 1] = nullptr;
        return -1;
    }
    return number;
}

std::shared_ptr<DownloadTask> SegmentedDownloader::taskAt(int task) const
{
    const std::lock_guard lock(m_mutex);
    if (task < 1 || task > int(m_tasks.size()))
        return nullptr;
    return m_tasks[task - 1];
}

template<typename Change>
void SegmentedDownloader::forEachTask(Change change) const
{
    const std::lock_guard lock(m_mutex);
    for (const auto &task : m_tasks) {
        if (task)
            change(*task);
    }
}

void SegmentedDownloader::pause(int task)
{
    if (const auto t = taskAt(task))
        t->pause();
}

void SegmentedDownloader::pauseAll()
{
    forEachTask([](DownloadTask &t) { t.pause(); });
}

void SegmentedDownloader::stop(int task)
{
    if (const auto t = taskAt(task))
        t->stop();
}

void SegmentedDownloader::stopAll()
{
    forEachTask([](DownloadTask &t) { t.stop(); });
}

void SegmentedDownloader::resume(int task)
{
    if (const auto t = taskAt(task))
        t->resume();
}

void SegmentedDownloader::resumeAll()
{
    forEachTask([](DownloadTask &t) { t.resume(); });
}

QString SegmentedDownloader::fileNameFromUrl(const QString &url)
{
    QElapsedTimer sinceBoot;
    sinceBoot.start();
    const QByteArray agent = "User-Agent: " + gbk::encode(QStringLiteral("我的下载"))
        + QByteArray::number(sinceBoot.msecsSinceReference());
    QString name = url;
    for (const QByteArray &line : probe(url, {agent, "Accept:"}, false).headers) {
        if (line.left(17).compare("Content-Location:", Qt::CaseInsensitive) == 0)
            name = QString::fromLatin1(line.mid(17).trimmed().left(255));
    }
    name.replace(u'\\', u'/');
    name = name.mid(name.lastIndexOf(u'/') + 1);
    return name.left(name.indexOf(u'?'));
}

QString SegmentedDownloader::targetPath(const QString &url, const QString &path)
{
    QString target = path;
    if (!QFileInfo(target).suffix().isEmpty())
        return target;
    if (target.isEmpty() || !isSeparator(target.back()))
        target += QDir::separator();
    target += fileNameFromUrl(url);
    if (!target.contains(u'.')) {
        const auto last = std::find_if(target.crbegin(), target.crend(), isSeparator);
        target += QDir::separator() + target.right(last - target.crbegin());
    }
    return target;
}

} // namespace net
