#include "net/segmented_downloader.h"

#include "base/gbk.h"

#include "tests/net/file_server.h"
#include "tests/net/raw_server.h"
#include "tests/net/test_servers.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace net;
using namespace nettest;

namespace {

constexpr qint64 kMiB = 1 << 20;

QByteArray randomBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

struct Call {
    int task;
    int status;
    qint64 total;
    qint64 done;
};

// Collects the callbacks of a download and lets the test wait for the final one.
class Recorder final {
public:
    SegmentedDownloader::ProgressCallback callback(std::function<void(const Call &)> also = {})
    {
        return [this, also](int task, int status, qint64 total, qint64 done) {
            if (m_inside.exchange(true))
                m_overlapped = true;
            {
                const std::lock_guard lock(m_mutex);
                m_calls.push_back({task, status, total, done});
            }
            if (also)
                also({task, status, total, done});
            m_inside = false;
            m_changed.notify_all();
        };
    }
    // The final call, or nothing after `ms`.
    std::optional<Call> waitForFinal(int ms = 10000)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finalLocked().has_value(); });
        return finalLocked();
    }
    bool waitForProgress(int ms = 10000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_calls.empty(); });
    }
    std::vector<Call> calls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    bool overlapped() const { return m_overlapped; }

private:
    std::optional<Call> finalLocked() const
    {
        for (const Call &c : m_calls) {
            if (c.status != SegmentedDownloader::Progress)
                return c;
        }
        return std::nullopt;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Call> m_calls;
    std::atomic<bool> m_inside = false;
    std::atomic<bool> m_overlapped = false;
};

QByteArray expectedHead(const RawServer &server, const QByteArray &path, const QByteArray &range)
{
    QByteArray head = "GET " + path + " HTTP/1.1\r\n" + server.hostHeader() + "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
                      "Accept-Encoding: gzip, deflate\r\n"
                      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)\r\n"
                      "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    if (!range.isEmpty())
        head += range + "\r\n";
    return head + "\r\n";
}

QList<QByteArray> rangeLines(const RawServer &server)
{
    QList<QByteArray> lines;
    for (const QByteArray &head : server.heads()) {
        for (const QByteArray &line : head.split('\n')) {
            if (line.startsWith("Range:"))
                lines.append(line.trimmed());
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

FileServerFaults faults(const std::function<void(FileServerFaults &)> &set)
{
    FileServerFaults f;
    set(f);
    return f;
}

int finalCount(const std::vector<Call> &calls)
{
    return int(std::count_if(calls.begin(), calls.end(), [](const Call &c) { return c.status != SegmentedDownloader::Progress; }));
}

class Downloader : public ::testing::Test {
protected:
    QString target(const QString &name = QStringLiteral("file.bin")) const { return m_dir.filePath(name); }
    // Downloads the server's /f.bin into target() and returns every call
    // made, once the task's threads have ended.
    std::vector<Call> fetchAll(const RawServer &server, int segments)
    {
        Recorder recorder;
        {
            SegmentedDownloader downloader;
            EXPECT_GT(downloader.download(server.url(QStringLiteral("/f.bin")), target(), segments, recorder.callback()), 0);
            recorder.waitForFinal();
        }
        return recorder.calls();
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Downloader, NoContentLengthGivesZeroAnEmptyFileAndNoThread)
{
    RawServer server([](RawConnection &c) {
        if (c.readRequest())
            c.write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nbody without a length");
    });
    Recorder recorder;
    SegmentedDownloader downloader;
    testsupport::writeAll(target(), "old content");
    EXPECT_EQ(downloader.download(server.url(QStringLiteral("/f.bin")), target(), 2, recorder.callback()), 0);
    EXPECT_TRUE(QFile::exists(target()));
    EXPECT_EQ(QFile(target()).size(), 0);
    QThread::msleep(200);
    EXPECT_EQ(server.heads().size(), 1); // the probe only: no worker ever asked
    EXPECT_TRUE(recorder.calls().empty());
}

TEST_F(Downloader, ZeroLengthGivesZero)
{
    RawServer server(answerEach([](RawConnection &) { return response("HTTP/1.1 200 OK", "", ""); }));
    SegmentedDownloader downloader;
    EXPECT_EQ(downloader.download(server.url(QStringLiteral("/f.bin")), target(), 2, {}), 0);
    EXPECT_EQ(QFile(target()).size(), 0);
}

TEST_F(Downloader, OneAndAHalfMiBComesInTwoRangedBlocks)
{
    const QByteArray content = randomBytes(kMiB + kMiB / 2);
    RawServer server(fileServer(content));
    Recorder recorder;
    SegmentedDownloader downloader;
    const int task = downloader.download(server.url(QStringLiteral("/f.bin")), target(), 2, recorder.callback());
    ASSERT_EQ(task, 1);
    const auto final = recorder.waitForFinal();
    ASSERT_TRUE(final);
    EXPECT_EQ(final->status, SegmentedDownloader::Finished);
    EXPECT_EQ(final->total, content.size());
    EXPECT_EQ(final->done, content.size());
    EXPECT_EQ(testsupport::readAll(target()), content);

    EXPECT_EQ(rangeLines(server), (QList<QByteArray>{"Range:bytes=0-1048575", "Range:bytes=1048576-2097151"}));
    const QList<QByteArray> heads = server.heads();
    ASSERT_EQ(heads.size(), 3);
    EXPECT_EQ(heads[0], expectedHead(server, "/f.bin", {}));
    EXPECT_TRUE(heads.contains(expectedHead(server, "/f.bin", "Range:bytes=0-1048575")));
    EXPECT_TRUE(heads.contains(expectedHead(server, "/f.bin", "Range:bytes=1048576-2097151")));

    // Progress only grows, calls never overlap, and the final call is last.
    const std::vector<Call> calls = recorder.calls();
    qint64 done = 0;
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].status, SegmentedDownloader::Progress);
        EXPECT_EQ(calls[i].task, task);
        EXPECT_GT(calls[i].done, done);
        done = calls[i].done;
    }
    EXPECT_EQ(done, content.size());
    EXPECT_FALSE(recorder.overlapped());
}

TEST_F(Downloader, SmallFileUsesOneWorker)
{
    const QByteArray content = randomBytes(100 * 1024);
    RawServer server(fileServer(content));
    ASSERT_EQ(finalCount(fetchAll(server, 2)), 1);
    EXPECT_EQ(rangeLines(server), QList<QByteArray>{"Range:bytes=0-1048575"});
    EXPECT_EQ(testsupport::readAll(target()), content);
}

TEST_F(Downloader, ConnectionDroppedMidBlockFailsOnce)
{
    const QByteArray content = randomBytes(kMiB + kMiB / 2);
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.cutRangeFrom = kMiB; })));
    const std::vector<Call> calls = fetchAll(server, 2);
    ASSERT_EQ(finalCount(calls), 1);
    const Call *final = &calls.back();
    EXPECT_EQ(final->status, SegmentedDownloader::Failed);
    EXPECT_EQ(final->total, 0);
    EXPECT_EQ(final->done, 0);
    EXPECT_EQ(QFile(target()).size(), content.size()); // full length, the rest zero-filled
}

TEST_F(Downloader, BlockEndingEarlyWithoutLengthIsNoSuccess)
{
    const QByteArray content = randomBytes(kMiB + kMiB / 2);
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.cutRangeFrom = kMiB; f.cutWithoutLength = true; })));
    const std::vector<Call> calls = fetchAll(server, 2);
    ASSERT_EQ(finalCount(calls), 1);
    const Call *final = &calls.back();
    EXPECT_EQ(final->status, SegmentedDownloader::Failed);
}

TEST_F(Downloader, ServerIgnoringRangesFailsWithoutWritingOutsideABlock)
{
    const QByteArray content = randomBytes(2 * kMiB + kMiB / 2);
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.ignoreRange = true; })));
    const std::vector<Call> calls = fetchAll(server, 2);
    ASSERT_EQ(finalCount(calls), 1);
    const Call *final = &calls.back();
    EXPECT_EQ(final->status, SegmentedDownloader::Failed);
    const QByteArray written = testsupport::readAll(target());
    EXPECT_EQ(written.size(), content.size());
    EXPECT_EQ(written, QByteArray(content.size(), '\0'));
}

TEST_F(Downloader, WholeFileAnswerIsTakenWhenItIsTheOnlyBlock)
{
    const QByteArray content = randomBytes(1000);
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.ignoreRange = true; })));
    const std::vector<Call> calls = fetchAll(server, 2);
    ASSERT_EQ(finalCount(calls), 1);
    const Call *final = &calls.back();
    EXPECT_EQ(final->status, SegmentedDownloader::Finished);
    EXPECT_EQ(testsupport::readAll(target()), content);
}

TEST_F(Downloader, PauseHoldsTheTransferAndResumeFinishesIt)
{
    const QByteArray content = randomBytes(2 * kMiB);
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.slowPiece = 64 * 1024; f.slowPauseMs = 2; })));
    Recorder recorder;
    SegmentedDownloader downloader;
    std::atomic<bool> paused = false;
    const int task = downloader.download(server.url(QStringLiteral("/f.bin")), target(), 1,
                                         recorder.callback([&](const Call &c) {
                                             if (!paused.exchange(true))
                                                 downloader.pause(c.task);
                                         }));
    ASSERT_GT(task, 0);
    ASSERT_TRUE(recorder.waitForProgress());
    const size_t callsAtPause = recorder.calls().size();
    QThread::msleep(300);
    EXPECT_EQ(recorder.calls().size(), callsAtPause);
    downloader.resume(task);
    const auto final = recorder.waitForFinal();
    ASSERT_TRUE(final);
    EXPECT_EQ(final->status, SegmentedDownloader::Finished);
    EXPECT_EQ(testsupport::readAll(target()), content);
}

TEST_F(Downloader, ConnectionLostWhilePausedIsOpenedAgainForTheRest)
{
    const QByteArray content = randomBytes(kMiB);
    std::atomic<int> ranges = 0;
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.cutIf = [&](qint64) { return ranges++ == 0; }; })));
    Recorder recorder;
    SegmentedDownloader downloader;
    std::atomic<bool> paused = false;
    const int task = downloader.download(server.url(QStringLiteral("/f.bin")), target(), 1,
                                         recorder.callback([&](const Call &) {
                                             if (!paused.exchange(true))
                                                 downloader.pauseAll();
                                         }));
    ASSERT_GT(task, 0);
    ASSERT_TRUE(recorder.waitForProgress());
    QThread::msleep(200);
    downloader.resumeAll();
    const auto final = recorder.waitForFinal();
    ASSERT_TRUE(final);
    EXPECT_EQ(final->status, SegmentedDownloader::Finished);
    EXPECT_EQ(testsupport::readAll(target()), content);
    const QList<QByteArray> lines = rangeLines(server);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Range:bytes=0-1048575");
    EXPECT_TRUE(lines[1].startsWith("Range:bytes=")) << lines[1].toStdString();
}

TEST_F(Downloader, StopEndsTheTaskWithoutAFinalCall)
{
    const QByteArray content = randomBytes(3 * kMiB);
    RawServer server(fileServer(content, faults([&](FileServerFaults &f) { f.slowPiece = 64 * 1024; f.slowPauseMs = 5; })));
    Recorder recorder;
    {
        SegmentedDownloader downloader;
        std::atomic<bool> stopped = false;
        ASSERT_GT(downloader.download(server.url(QStringLiteral("/f.bin")), target(), 2,
                                      recorder.callback([&](const Call &c) {
                                          if (!stopped.exchange(true))
                                              downloader.stop(c.task);
                                      })),
                  0);
        ASSERT_TRUE(recorder.waitForProgress());
        downloader.stop(99);
        downloader.stopAll();
    } // the destructor waits for the task's threads
    EXPECT_EQ(finalCount(recorder.calls()), 0);
    EXPECT_LT(recorder.calls().back().done, content.size());
}

TEST_F(Downloader, TaskNumbersCountFailedStarts)
{
    const QByteArray content = randomBytes(1000);
    RawServer server(fileServer(content));
    RawServer missing(answerEach([](RawConnection &) { return response("HTTP/1.1 404 Not Found", "", "no"); }));
    SegmentedDownloader downloader;
    EXPECT_EQ(downloader.download(QStringLiteral("http://127.0.0.1:%1/x.bin").arg(closedPort()), target(), 2, {}), -1);
    EXPECT_EQ(downloader.download(missing.url(QStringLiteral("/x.bin")), target(), 2, {}), -1);
    testsupport::writeAll(target(QStringLiteral("plain.file")), "a file, no folder");
    EXPECT_EQ(downloader.download(server.url(QStringLiteral("/x.bin")), target(QStringLiteral("plain.file/x.bin")), 2, {}), -1);
    Recorder recorder;
    EXPECT_EQ(downloader.download(server.url(QStringLiteral("/x.bin")), target(), 2, recorder.callback()), 4);
    const auto final = recorder.waitForFinal();
    ASSERT_TRUE(final);
    EXPECT_EQ(final->task, 4);
}

TEST_F(Downloader, FileNameComesFromContentLocationOrTheUrl)
{
    RawServer server(answerEach([](RawConnection &c) {
        if (c.head().startsWith("GET /located"))
            return response("HTTP/1.1 200 OK", "Content-Location: /files\\setup-2.0.exe\r\n", "x");
        return response("HTTP/1.1 200 OK", "", "x");
    }));
    EXPECT_EQ(SegmentedDownloader::fileNameFromUrl(server.url(QStringLiteral("/located?id=1"))), QStringLiteral("setup-2.0.exe"));
    EXPECT_EQ(SegmentedDownloader::fileNameFromUrl(server.url(QStringLiteral("/dl/tool.zip?x=1&y=2"))), QStringLiteral("tool.zip"));
    EXPECT_TRUE(server.heads().value(0).contains("\r\nUser-Agent: " + gbk::encode(u"我的下载")));
}

TEST_F(Downloader, PathWithoutExtensionGetsTheFileName)
{
    const QByteArray content = randomBytes(1000);
    RawServer server(fileServer(content));
    const QString url = server.url(QStringLiteral("/dl/tool.zip?v=2"));
    const QChar sep = QDir::separator();
    EXPECT_EQ(SegmentedDownloader::targetPath(url, m_dir.path()), m_dir.path() + sep + QStringLiteral("tool.zip"));
    EXPECT_EQ(SegmentedDownloader::targetPath(url, m_dir.path() + u'/'), m_dir.path() + QStringLiteral("/tool.zip"));
    EXPECT_EQ(SegmentedDownloader::targetPath(url, target(QStringLiteral("given.bin"))), target(QStringLiteral("given.bin")));
    const QString plain = server.url(QStringLiteral("/dl/tool"));
    const QString folder = m_dir.path().contains(u'.') ? QString() : m_dir.path();
    if (!folder.isEmpty()) {
        EXPECT_EQ(SegmentedDownloader::targetPath(plain, folder), folder + sep + QStringLiteral("tool") + sep + QStringLiteral("tool"));
    }

    Recorder recorder;
    SegmentedDownloader downloader;
    ASSERT_GT(downloader.download(url, m_dir.path(), 1, recorder.callback()), 0);
    ASSERT_TRUE(recorder.waitForFinal());
    EXPECT_EQ(testsupport::readAll(m_dir.filePath(QStringLiteral("tool.zip"))), content);
}
