// Servers that break the protocol get a quiet failure, never a crash.
#include "net/http_request.h"
#include "net/page_fetch.h"
#include "net/segmented_downloader.h"

#include "tests/net/file_server.h"
#include "tests/net/raw_server.h"
#include "tests/support/test_main.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>

using namespace net;
using namespace nettest;

namespace {

RawServer answering(QByteArray bytes)
{
    return RawServer([bytes](RawConnection &c) {
        if (c.readRequest())
            c.write(bytes);
    });
}

const QByteArray kGarbage = "GARBAGE LINE\r\nX: y\r\n\r\nbody";
const QByteArray kHugeHeader = "HTTP/1.1 200 OK\r\nX-Huge: " + QByteArray(1 << 20, 'h') + "\r\nContent-Length: 2\r\n\r\nok";
const QByteArray kLongerBody = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokAND MORE THAN DECLARED";

} // namespace

TEST(MalformedResponse, GarbageStatusLine)
{
    RawServer a = answering(kGarbage);
    PageFetchOptions page;
    EXPECT_EQ(fetchPageText(a.url(), page), QString());
    EXPECT_EQ(page.statusText, pagefetch::kNoResponse);

    RawServer b = answering(kGarbage);
    HttpRequestOptions request;
    EXPECT_EQ(httpRequest(b.url(), request), "");
    EXPECT_EQ(request.status, 0);
}

TEST(MalformedResponse, HeaderLineOfOneMegabyte)
{
    RawServer a = answering(kHugeHeader);
    PageFetchOptions page;
    fetchPageText(a.url(), page);
    EXPECT_FALSE(page.statusText.isEmpty());

    RawServer b = answering(kHugeHeader);
    HttpRequestOptions request;
    // libcurl refuses a header line past its limit: the status line had
    // arrived, nothing after it is kept, and the failure is logged.
    testsupport::LogCapture log;
    EXPECT_EQ(httpRequest(b.url(), request), "");
    EXPECT_EQ(request.status, 200);
    EXPECT_EQ(request.responseHeaders, QString());
    EXPECT_EQ(log.linesWith({"tolvar.net", b.url(), "failed at the response step"}).size(), 1) << log.lines().join(u'\n').toStdString();
}

TEST(MalformedResponse, BodyLongerThanDeclared)
{
    RawServer a = answering(kLongerBody);
    PageFetchOptions page;
    EXPECT_EQ(fetchPageText(a.url(), page), QStringLiteral("ok"));
    EXPECT_EQ(page.statusText, QStringLiteral("200 OK"));

    RawServer b = answering(kLongerBody);
    HttpRequestOptions request;
    EXPECT_EQ(httpRequest(b.url(), request), "ok");
    EXPECT_EQ(request.status, 200);
}

// Only the first line of a head is a status line; a header line that merely
// begins like one neither restarts the response nor changes its status.
TEST(MalformedResponse, StatusLookalikeInsideTheHeadIsAHeaderLine)
{
    const QByteArray answer = "HTTP/1.1 200 OK\r\nX-A: 1\r\nHTTP/1.0 500 Junk: x\r\nContent-Length: 2\r\n\r\nok";
    RawServer a = answering(answer);
    PageFetchOptions page;
    EXPECT_EQ(fetchPageText(a.url(), page), QStringLiteral("ok"));
    EXPECT_EQ(page.statusText, QStringLiteral("200 OK"));
    EXPECT_EQ(page.responseHeaders, QStringLiteral("HTTP/1.1 200 OK\r\nX-A: 1\r\nHTTP/1.0 500 Junk: x\r\nContent-Length: 2\r\n\r\n"));

    RawServer b = answering(answer);
    HttpRequestOptions request;
    EXPECT_EQ(httpRequest(b.url(), request), "ok");
    EXPECT_EQ(request.status, 200);
    EXPECT_EQ(request.responseHeaders, QStringLiteral("X-A: 1\r\nHTTP/1.0 500 Junk: x\r\nContent-Length: 2\r\n"));

    // A ranged block whose head holds such a line is still its range.
    const QByteArray content(SegmentedDownloader::kBlockSize + 4096, 'd');
    FileServerFaults faults;
    faults.headLines = "HTTP/1.0 200 OK: x\r\n";
    RawServer files(fileServer(content, faults));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("f.bin"));
    std::mutex mutex;
    std::condition_variable ended;
    int final = SegmentedDownloader::Progress;
    {
        SegmentedDownloader downloader;
        ASSERT_GT(downloader.download(files.url(QStringLiteral("/f.bin")), target, 2, [&](int, int status, qint64, qint64) {
            const std::lock_guard lock(mutex);
            final = status;
            ended.notify_all();
        }), 0);
        std::unique_lock lock(mutex);
        ASSERT_TRUE(ended.wait_for(lock, std::chrono::seconds(10), [&] { return final != SegmentedDownloader::Progress; }));
    }
    EXPECT_EQ(final, SegmentedDownloader::Finished);
    EXPECT_EQ(testsupport::readAll(target), content);
}

TEST(MalformedResponse, DownloaderProbeWithGarbageFails)
{
    QTemporaryDir dir;
    RawServer a = answering(kGarbage);
    SegmentedDownloader downloader;
    EXPECT_EQ(downloader.download(a.url(QStringLiteral("/f.bin")), dir.filePath(QStringLiteral("f.bin")), 2, {}), -1);
}

TEST(MalformedResponse, RangeAnswerLongerThanItsBlockIsNeverWrittenPastTheBlock)
{
    const qint64 size = (1 << 20) + (1 << 19);
    const QByteArray content(size, 'c');
    // The first block's answer claims its range but carries the whole file
    // of other bytes; the second block is served properly.
    RawServer server([content, size](RawConnection &c) {
        if (!c.readRequest())
            return;
        if (c.header("Range") == "bytes=0-1048575") {
            c.write("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-1048575/" + QByteArray::number(size)
                    + "\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n" + QByteArray(size, 'x'));
            return;
        }
        const QByteArray from = c.header("Range").mid(6).split('-').value(0);
        const QByteArray part = c.header("Range").isEmpty() ? content : content.mid(from.toLongLong());
        c.write("HTTP/1.1 " + QByteArray(c.header("Range").isEmpty() ? "200 OK" : "206 Partial Content")
                + "\r\nContent-Range: bytes " + from + "-" + QByteArray::number(size - 1) + "/" + QByteArray::number(size)
                + "\r\nContent-Length: " + QByteArray::number(part.size()) + "\r\n\r\n" + part);
    });
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("f.bin"));
    std::mutex mutex;
    std::condition_variable ended;
    int final = 1;
    SegmentedDownloader downloader;
    ASSERT_GT(downloader.download(server.url(QStringLiteral("/f.bin")), target, 2, [&](int, int status, qint64, qint64) {
        if (status == SegmentedDownloader::Progress)
            return;
        const std::lock_guard lock(mutex);
        final = status;
        ended.notify_all();
    }), 0);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ended.wait_for(lock, std::chrono::seconds(10), [&] { return final != 1; }));
    EXPECT_EQ(final, SegmentedDownloader::Failed);
    const QByteArray written = testsupport::readAll(target);
    EXPECT_EQ(written.size(), size);
    EXPECT_FALSE(written.mid(1 << 20).contains('x'));
}
