// What the publish journal adds to one video, beside the goal of 20 ms: the
// size-and-name test of a picked file, the three lines a published video
// writes (each on disk before it returns), and the hash, which runs while
// the upload does and so only costs when it outlasts the upload. Also the
// journal's start-up read after a long history, before and after the
// compaction that history sets off.
// Usage: journal_bench [FOLDER] (a folder on the disk the run directory uses)
#include "base/run_directory.h"
#include "upload/publish_journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

VideoIdentity identity(int n)
{
    VideoIdentity id;
    id.sha256Hex = QByteArray::number(n).rightJustified(64, '0');
    id.size = 1'000'000 + n;
    id.name = QStringLiteral("视频%1.mp4").arg(n);
    id.account = QString::number(100 + n % 300);
    id.title = QStringLiteral("标题前视频%1标题后").arg(n);
    return id;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/journal-bench-XXXXXX") : QString());
    rundir::set(temp.path());
    QDir().mkpath(temp.filePath(QStringLiteral("data")));

    // A history of 20,000 videos, three lines each: past the size that
    // sets off a compaction.
    constexpr int kHistory = 20000;
    {
        QFile file(PublishJournal::defaultPath());
        file.open(QIODevice::WriteOnly);
        for (int n = 0; n < kHistory; ++n)
            for (const char *state : {"submitting", "published", "disposed"})
                file.write(QStringLiteral("{\"state\":\"%1\",\"sha256\":\"%2\",\"size\":%3,\"name\":\"%4\",\"account\":\"%5\",\"title\":\"%6\",\"time\":\"2026-12-09T08:00:00\"}\n")
                               .arg(QLatin1String(state), QString::fromLatin1(identity(n).sha256Hex)).arg(identity(n).size)
                               .arg(identity(n).name, identity(n).account, identity(n).title).toUtf8());
    }
    const qint64 bytesBefore = QFileInfo(PublishJournal::defaultPath()).size();
    QElapsedTimer t;
    const auto medianLoadMs = [&t](qint64 compactBytes) {
        std::vector<double> loads;
        for (int i = 0; i < 3; ++i) {
            t.restart();
            PublishJournal loaded(PublishJournal::defaultPath(), compactBytes);
            loads.push_back(t.nsecsElapsed() / 1e6);
        }
        return medianOf(loads);
    };
    const double reloadBeforeMs = medianLoadMs(std::numeric_limits<qint64>::max());
    t.start();
    {
        PublishJournal compacting;
    }
    const double compactMs = t.nsecsElapsed() / 1e6;
    const qint64 bytesAfter = QFileInfo(PublishJournal::defaultPath()).size();
    const double reloadAfterMs = medianLoadMs(PublishJournal::kDefaultCompactBytes);
    PublishJournal journal;

    std::vector<double> lookups, stateLookups, records;
    for (int n = 0; n < 200; ++n) {
        t.restart();
        const bool known = journal.mayHold(5'000'000 + n, QStringLiteral("新视频%1.mp4").arg(n));
        lookups.push_back(t.nsecsElapsed() / 1e3);
        if (known)
            return 1;
        const VideoIdentity old = identity(n * 97);
        t.restart();
        const JournalState state = journal.stateOf(old.sha256Hex, old.size, old.account);
        stateLookups.push_back(t.nsecsElapsed() / 1e3);
        if (state != JournalState::Disposed || journal.find(old.sha256Hex, old.size, old.account)->publishedAt.isNull())
            return 1;
    }
    for (int n = 0; n < 60; ++n) {
        const VideoIdentity id = identity(kHistory + n);
        for (JournalState state : {JournalState::Submitting, JournalState::Published, JournalState::Disposed}) {
            t.restart();
            if (!journal.record(id, state))
                return 1;
            records.push_back(t.nsecsElapsed() / 1e6);
        }
    }

    // A 64 MiB clip: hashed on its own thread while the upload runs.
    const QString clip = temp.filePath(QStringLiteral("clip.mp4"));
    {
        QFile file(clip);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < 64; ++i) {
            for (char &c : block)
                c = static_cast<char>(QRandomGenerator::global()->bounded(256));
            file.write(block);
        }
    }
    t.restart();
    const QByteArray hash = sha256OfFile(clip);
    const double hashMs = t.nsecsElapsed() / 1e6;
    // The same clip at 10 MiB/s takes 6.4 s to upload: the hash is done long before the press.
    const double uploadMs = 64.0 / 10.0 * 1000.0;
    const double hashWaitMs = std::max(0.0, hashMs - uploadMs);

    const double perVideo = medianOf(lookups) / 1000.0 + 3 * medianOf(records) + hashWaitMs;
    std::printf("journal start-up read, %d videos (%d lines, %.1f MB): median %.1f ms\n", kHistory, 3 * kHistory, bytesBefore / 1e6, reloadBeforeMs);
    std::printf("the same read with its compaction (once): %.1f ms -> %.1f MB\n", compactMs, bytesAfter / 1e6);
    std::printf("journal start-up read after it (%d lines): median %.1f ms\n", kHistory, reloadAfterMs);
    std::printf("size-and-name test of a picked file: median %.2f us\n", medianOf(lookups));
    std::printf("state of a hashed file (bytes and account): median %.2f us\n", medianOf(stateLookups));
    std::printf("one journal line on disk (fsync): median %.2f ms, worst %.2f ms\n", medianOf(records), *std::max_element(records.begin(), records.end()));
    std::printf("SHA-256 of a 64 MiB clip: %.0f ms, beside its upload at 10 MiB/s: %.0f ms -> wait at the press %.0f ms\n", hashMs, uploadMs, hashWaitMs);
    std::printf("extra per published video: %.2f ms against the goal of 20 ms (%.2fx)\n", perVideo, perVideo / 20.0);
    return hash.size() == 64 ? 0 : 1;
}
