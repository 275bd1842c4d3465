#include "upload/publish_journal.h"
#include "upload/background_hash.h"
#include "upload/delay_wait.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QString kAccount = QStringLiteral("7");

VideoIdentity identity(const QByteArray &content, const QString &name = "a.mp4")
{
    VideoIdentity id;
    id.sha256Hex = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    id.size = content.size();
    id.name = name;
    id.account = kAccount;
    id.title = "title of " + name;
    return id;
}

QList<QByteArray> nonEmptyLines(const QString &path)
{
    QList<QByteArray> lines = testsupport::readAll(path).split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

class PublishJournalTest : public ::testing::Test {
protected:
    QString path() const { return run.file("data/publish-journal.jsonl"); }

    testsupport::TempRunDir run;
};
} // namespace

TEST_F(PublishJournalTest, StatesOutliveTheInstanceAndTheLatestWins)
{
    EXPECT_EQ(PublishJournal::defaultPath(), path());
    const VideoIdentity a = identity("aaa", "a.mp4");
    const VideoIdentity b = identity("bbb", "b.mp4");
    {
        PublishJournal journal;
        EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size, kAccount), JournalState::None);
        ASSERT_TRUE(journal.record(a, JournalState::Submitting));
        EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Submitting);
        VideoIdentity retitled = a;
        retitled.title = "second title";
        ASSERT_TRUE(journal.record(retitled, JournalState::Published, "landed on the content page"));
        ASSERT_TRUE(journal.record(b, JournalState::Draft));
        ASSERT_TRUE(journal.record(b, JournalState::Disposed));
    }
    ASSERT_EQ(nonEmptyLines(path()).size(), 4);
    const QJsonObject second = QJsonDocument::fromJson(nonEmptyLines(path()).at(1)).object();
    EXPECT_EQ(second.value("state").toString(), "published");
    EXPECT_EQ(second.value("sha256").toString().toLatin1(), a.sha256Hex);
    EXPECT_EQ(second.value("size").toInteger(), 3);
    EXPECT_EQ(second.value("name").toString(), "a.mp4");
    EXPECT_EQ(second.value("reason").toString(), "landed on the content page");
    EXPECT_FALSE(second.value("time").toString().isEmpty());
    EXPECT_FALSE(QJsonDocument::fromJson(nonEmptyLines(path()).at(0)).object().contains("reason"));

    PublishJournal fresh;
    EXPECT_EQ(fresh.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Published);
    EXPECT_EQ(fresh.stateOf(a.sha256Hex.toUpper(), a.size, kAccount), JournalState::Published);
    EXPECT_EQ(fresh.stateOf(b.sha256Hex, b.size, kAccount), JournalState::Disposed);
    // The same hash with another size is another file.
    EXPECT_EQ(fresh.stateOf(a.sha256Hex, a.size + 1, kAccount), JournalState::None);
    ASSERT_TRUE(fresh.find(a.sha256Hex, a.size, kAccount).has_value());
    EXPECT_EQ(fresh.find(a.sha256Hex, a.size, kAccount)->title, "second title");
    EXPECT_FALSE(fresh.find(a.sha256Hex, 99, kAccount).has_value());
}

TEST_F(PublishJournalTest, EntriesWithoutAnIdentityOrStateAreRefused)
{
    PublishJournal journal;
    VideoIdentity unhashed = identity("x");
    unhashed.sha256Hex.clear(); // what sha256OfFile gives on a read error
    EXPECT_FALSE(journal.record(unhashed, JournalState::Submitting));
    EXPECT_FALSE(journal.record(identity("x"), JournalState::None));
    VideoIdentity negative = identity("x");
    negative.size = -1;
    EXPECT_FALSE(journal.record(negative, JournalState::Submitting));
    // Too long to be read back: refused rather than written and lost.
    VideoIdentity huge = identity("x");
    huge.title = QString(70 * 1024, QChar(u't'));
    EXPECT_FALSE(journal.record(huge, JournalState::Submitting));
    EXPECT_TRUE(testsupport::readAll(path()).isEmpty());

    // A long error text is shortened, so the outcome still gets written.
    ASSERT_TRUE(journal.record(identity("x"), JournalState::Failed, QString(100 * 1024, QChar(u'r'))));
    EXPECT_EQ(PublishJournal().stateOf(identity("x").sha256Hex, 1, kAccount), JournalState::Failed);
}

TEST_F(PublishJournalTest, CutOffAndJunkLinesAreSkippedAndAppendsGoOn)
{
    const VideoIdentity a = identity("aaa", "a.mp4");
    const VideoIdentity b = identity("bbb", "b.mp4");
    const VideoIdentity c = identity("ccc", "c.mp4");
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(a, JournalState::Published));
    }
    QByteArray bytes = testsupport::readAll(path());
    bytes += "not json at all\n";
    bytes += "{\"state\":\"published\",\"size\":3}\n";                                            // no hash
    bytes += "{\"state\":\"gone\",\"sha256\":\"" + b.sha256Hex + "\",\"size\":3}\n";             // unknown state
    bytes += "{\"state\":\"published\",\"sha256\":\"" + b.sha256Hex + "\",\"size\":-3}\n";       // bad size
    bytes += "[1,2,3]\n\n\r\n";
    // Far too long, with an entry at its end that must not be taken for one.
    bytes += QByteArray(100 * 1024, ' ') + "{\"state\":\"published\",\"sha256\":\"" + b.sha256Hex + "\",\"size\":3}\n";
    // A crash mid-write, just before the newline: a whole entry record() never confirmed.
    bytes += "{\"state\":\"published\",\"sha256\":\"" + c.sha256Hex + "\",\"size\":3,\"account\":\"7\"}";
    ASSERT_TRUE(testsupport::writeAll(path(), bytes));

    PublishJournal journal;
    EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Published);
    EXPECT_EQ(journal.stateOf(b.sha256Hex, b.size, kAccount), JournalState::None);
    EXPECT_EQ(journal.stateOf(c.sha256Hex, c.size, kAccount), JournalState::None);

    // The next line must not be glued onto the cut-off one, nor make it whole.
    ASSERT_TRUE(journal.record(b, JournalState::Submitting));
    EXPECT_EQ(PublishJournal().stateOf(c.sha256Hex, c.size, kAccount), JournalState::None);
    ASSERT_TRUE(journal.record(c, JournalState::Held, "locked by another program"));
    const QList<QByteArray> lines = nonEmptyLines(path());
    EXPECT_EQ(QJsonDocument::fromJson(lines.at(lines.size() - 2)).object().value("state").toString(), "submitting");
    EXPECT_EQ(QJsonDocument::fromJson(lines.last()).object().value("state").toString(), "held");

    PublishJournal fresh;
    EXPECT_EQ(fresh.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Published);
    EXPECT_EQ(fresh.stateOf(b.sha256Hex, b.size, kAccount), JournalState::Submitting);
    EXPECT_EQ(fresh.stateOf(c.sha256Hex, c.size, kAccount), JournalState::Held);

    // reload() sees lines another instance wrote and forgets nothing else.
    ASSERT_TRUE(fresh.record(a, JournalState::Disposed));
    journal.reload();
    EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Disposed);
    EXPECT_EQ(journal.stateOf(c.sha256Hex, c.size, kAccount), JournalState::Held);
}

TEST_F(PublishJournalTest, MayHoldAsksForSizeAndNameTogether)
{
    PublishJournal journal;
    EXPECT_FALSE(journal.mayHold(3, "a.mp4"));
    ASSERT_TRUE(journal.record(identity("aaa", "a.mp4"), JournalState::Submitting));
    EXPECT_TRUE(journal.mayHold(3, "a.mp4"));
    EXPECT_TRUE(journal.mayHold(3, "A.MP4"));
    EXPECT_FALSE(journal.mayHold(4, "a.mp4"));
    EXPECT_FALSE(journal.mayHold(3, "b.mp4"));
}

TEST_F(PublishJournalTest, ChineseNamesAndTitlesSurvive)
{
    VideoIdentity id = identity("旅行", "旅行日记 第1集.mp4");
    id.title = "春天的杭州，西湖边 🌸";
    id.account = "账号一";
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(id, JournalState::Submitting, "网络超时"));
    }
    // Plain UTF-8 in the file, readable by anyone who opens it.
    const QByteArray bytes = testsupport::readAll(path());
    EXPECT_TRUE(bytes.contains(id.title.toUtf8()));

    PublishJournal fresh;
    const std::optional<VideoIdentity> found = fresh.find(id.sha256Hex, id.size, id.account);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, id.name);
    EXPECT_EQ(found->title, id.title);
    EXPECT_EQ(found->account, id.account);
    EXPECT_TRUE(fresh.mayHold(id.size, "旅行日记 第1集.mp4"));
}

TEST_F(PublishJournalTest, TheSameBytesUnderTwoAccountsAreTwoVideos)
{
    VideoIdentity mine = identity("风景", "风景.mp4");
    mine.account = "100";
    VideoIdentity theirs = mine;
    theirs.account = "101";
    {
        PublishJournal journal;
        for (JournalState state : {JournalState::Submitting, JournalState::Published, JournalState::Disposed})
            ASSERT_TRUE(journal.record(mine, state));
        EXPECT_EQ(journal.stateOf(theirs.sha256Hex, theirs.size, "101"), JournalState::None);
        EXPECT_FALSE(journal.find(theirs.sha256Hex, theirs.size, "101").has_value());
        // The cheap test still sends the other account's copy to be hashed.
        EXPECT_TRUE(journal.mayHold(theirs.size, theirs.name));
        ASSERT_TRUE(journal.record(theirs, JournalState::Submitting));
    }
    PublishJournal fresh;
    EXPECT_EQ(fresh.stateOf(mine.sha256Hex, mine.size, "100"), JournalState::Disposed);
    EXPECT_EQ(fresh.stateOf(mine.sha256Hex, mine.size, "101"), JournalState::Submitting);
    EXPECT_EQ(fresh.find(mine.sha256Hex, mine.size, "101")->account, "101");

    // Counted as in the studio: published, draft and disposed, of this
    // account, under exactly this title.
    VideoIdentity draft = identity("draft", "draft.mp4");
    VideoIdentity held = identity("held", "held.mp4");
    VideoIdentity retitled = identity("retitled", "retitled.mp4");
    for (VideoIdentity *id : {&draft, &held, &retitled}) {
        id->account = "100";
        id->title = mine.title;
    }
    retitled.title += ' ';
    ASSERT_TRUE(fresh.record(draft, JournalState::Draft));
    ASSERT_TRUE(fresh.record(held, JournalState::Held));
    ASSERT_TRUE(fresh.record(retitled, JournalState::Published));
    EXPECT_EQ(fresh.countWithTitle("100", mine.title), 2);
    EXPECT_EQ(fresh.countWithTitle("101", mine.title), 0);
}

namespace {
QByteArray lineOfEarlierVersion(const char *state, const VideoIdentity &id, const char *time)
{
    const QJsonObject line{{"state", state},     {"sha256", QString::fromLatin1(id.sha256Hex)}, {"size", id.size}, {"name", id.name},
                           {"account", id.account}, {"title", id.title},                         {"time", time}};
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}
} // namespace

TEST_F(PublishJournalTest, CompactionKeepsEveryVideoInItsLastStateAndWhenItWasPublished)
{
    // An earlier version's journal: the time of its published line says when.
    const VideoIdentity old = identity("old", "old.mp4");
    QByteArray bytes = lineOfEarlierVersion("submitting", old, "2025-03-01T09:59:00");
    bytes += lineOfEarlierVersion("published", old, "2025-03-01T10:00:00");
    bytes += "not json\n";
    bytes += lineOfEarlierVersion("disposed", old, "2025-03-01T10:05:00");
    ASSERT_TRUE(testsupport::writeAll(path(), bytes));
    const QDateTime oldPublishedAt(QDate(2025, 3, 1), QTime(10, 0));

    VideoIdentity oldElsewhere = old;
    oldElsewhere.account = "8";
    const VideoIdentity published = identity("published", "published.mp4");
    const VideoIdentity draft = identity("draft", "draft.mp4");
    const VideoIdentity failed = identity("failed", "failed.mp4");
    const VideoIdentity held = identity("held", "held.mp4");
    const QList<VideoIdentity> all = {old, oldElsewhere, published, draft, failed, held};
    PublishJournal journal;
    EXPECT_EQ(journal.find(old.sha256Hex, old.size, kAccount)->publishedAt, oldPublishedAt);
    for (JournalState state : {JournalState::Submitting, JournalState::Published, JournalState::Disposed})
        ASSERT_TRUE(journal.record(published, state));
    ASSERT_TRUE(journal.record(draft, JournalState::Submitting));
    ASSERT_TRUE(journal.record(draft, JournalState::Draft));
    ASSERT_TRUE(journal.record(failed, JournalState::Submitting));
    ASSERT_TRUE(journal.record(failed, JournalState::Failed, "timed out"));
    ASSERT_TRUE(journal.record(held, JournalState::Held));
    ASSERT_TRUE(journal.record(oldElsewhere, JournalState::Submitting));
    EXPECT_TRUE(journal.find(published.sha256Hex, published.size, kAccount)->publishedAt.isValid());
    EXPECT_TRUE(journal.find(draft.sha256Hex, draft.size, kAccount)->publishedAt.isValid());
    EXPECT_FALSE(journal.find(failed.sha256Hex, failed.size, kAccount)->publishedAt.isValid());
    const qint64 bytesBefore = QFileInfo(path()).size();

    const auto expectSame = [&all](const PublishJournal &one, const PublishJournal &other) {
        for (const VideoIdentity &id : all) {
            SCOPED_TRACE(id.name.toStdString() + " of " + id.account.toStdString());
            EXPECT_EQ(other.stateOf(id.sha256Hex, id.size, id.account), one.stateOf(id.sha256Hex, id.size, id.account));
            const std::optional<VideoIdentity> mine = one.find(id.sha256Hex, id.size, id.account);
            const std::optional<VideoIdentity> theirs = other.find(id.sha256Hex, id.size, id.account);
            ASSERT_TRUE(mine.has_value());
            ASSERT_TRUE(theirs.has_value());
            EXPECT_EQ(theirs->name, mine->name);
            EXPECT_EQ(theirs->title, mine->title);
            EXPECT_EQ(theirs->publishedAt, mine->publishedAt);
            EXPECT_TRUE(other.mayHold(id.size, id.name));
        }
    };
    // Past the limit at load: one line per video, the junk gone.
    PublishJournal compacted(path(), 1);
    expectSame(journal, compacted);
    EXPECT_LT(QFileInfo(path()).size(), bytesBefore);
    const QList<QByteArray> lines = nonEmptyLines(path());
    EXPECT_EQ(lines.size(), all.size());
    for (const QByteArray &line : lines)
        EXPECT_TRUE(QJsonDocument::fromJson(line).isObject()) << line.constData();
    expectSame(journal, PublishJournal());
    EXPECT_EQ(PublishJournal().find(old.sha256Hex, old.size, kAccount)->publishedAt, oldPublishedAt);

    // And in record(), once half the lines are superseded.
    for (int i = 0; i < all.size() / 2; ++i) {
        ASSERT_TRUE(compacted.record(failed, JournalState::Submitting));
        ASSERT_TRUE(compacted.record(failed, JournalState::Failed));
    }
    EXPECT_EQ(nonEmptyLines(path()).size(), all.size());
    expectSame(compacted, PublishJournal());

    // An instance that has not read those lines keeps them when it compacts.
    journal.setCompactBytes(1);
    ASSERT_TRUE(journal.record(held, JournalState::Failed));
    EXPECT_EQ(nonEmptyLines(path()).size(), all.size());
    EXPECT_EQ(PublishJournal().stateOf(held.sha256Hex, held.size, kAccount), JournalState::Failed);
    EXPECT_EQ(PublishJournal().stateOf(failed.sha256Hex, failed.size, kAccount), JournalState::Failed);
    EXPECT_EQ(PublishJournal().stateOf(draft.sha256Hex, draft.size, kAccount), JournalState::Draft);
}

#ifndef Q_OS_WIN
namespace {
// The disk refusing bytes past a size, as a full disk would: writes past it
// stop short and fail.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(qint64 bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        m_ok = ::getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        limit = m_old;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        m_ok = m_ok && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};
} // namespace

TEST_F(PublishJournalTest, AFailedWriteChangesNeitherTheIndexNorTheFile)
{
    const VideoIdentity a = identity("aaa", "a.mp4");
    const VideoIdentity b = identity("bbb", "b.mp4");
    PublishJournal journal;
    ASSERT_TRUE(journal.record(a, JournalState::Submitting));
    const QByteArray before = testsupport::readAll(path());
    {
        // Half of the next line reaches the file, then the write fails.
        FileSizeLimit limit(before.size() + 100);
        ASSERT_TRUE(limit.ok());
        EXPECT_FALSE(journal.record(a, JournalState::Published));
        EXPECT_FALSE(journal.record(b, JournalState::Submitting));
    }
    EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Submitting);
    EXPECT_FALSE(journal.find(a.sha256Hex, a.size, kAccount)->publishedAt.isValid());
    EXPECT_EQ(journal.stateOf(b.sha256Hex, b.size, kAccount), JournalState::None);
    EXPECT_FALSE(journal.mayHold(b.size, b.name));
    EXPECT_EQ(testsupport::readAll(path()), before);

    ASSERT_TRUE(journal.record(b, JournalState::Submitting));
    ASSERT_TRUE(journal.record(b, JournalState::Published));
    ASSERT_TRUE(journal.record(b, JournalState::Disposed));
    const QByteArray full = testsupport::readAll(path());
    {
        // A compaction that cannot write its new file leaves the old one.
        FileSizeLimit limit(10);
        ASSERT_TRUE(limit.ok());
        PublishJournal compacting(path(), 1);
        EXPECT_EQ(compacting.stateOf(a.sha256Hex, a.size, kAccount), JournalState::Submitting);
        EXPECT_EQ(compacting.stateOf(b.sha256Hex, b.size, kAccount), JournalState::Disposed);
    }
    EXPECT_EQ(testsupport::readAll(path()), full);
    EXPECT_EQ(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files).size(), 1);
}
#endif

TEST_F(PublishJournalTest, TwoLanesRecordAtOnceWhileTheFileIsCompacted)
{
    // Both lanes publish the same clips, each under its own account; the
    // small limit makes compactions run between their appends.
    PublishJournal journal(path(), 4 * 1024);
    constexpr int kEach = 20;
    const QStringList accounts = {"100", "101"};
    const auto clip = [](int i, const QString &account) {
        VideoIdentity id = identity(QByteArray::number(i), QString("v%1.mp4").arg(i));
        id.account = account;
        return id;
    };
    std::vector<std::unique_ptr<QThread>> threads;
    for (const QString &account : accounts) {
        threads.emplace_back(QThread::create([&journal, &clip, account] {
            for (int i = 0; i < kEach; ++i) {
                for (JournalState state : {JournalState::Submitting, JournalState::Published, JournalState::Disposed})
                    EXPECT_TRUE(journal.record(clip(i, account), state));
            }
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    const QList<QByteArray> lines = nonEmptyLines(path());
    EXPECT_LT(lines.size(), int(accounts.size()) * kEach * 3);
    for (const QByteArray &line : lines)
        EXPECT_TRUE(QJsonDocument::fromJson(line).isObject()) << line.constData();
    PublishJournal fresh;
    for (const QString &account : accounts) {
        for (int i = 0; i < kEach; ++i) {
            const VideoIdentity id = clip(i, account);
            EXPECT_EQ(fresh.stateOf(id.sha256Hex, id.size, account), JournalState::Disposed) << i << " of " << account.toStdString();
            EXPECT_EQ(journal.stateOf(id.sha256Hex, id.size, account), JournalState::Disposed) << i << " of " << account.toStdString();
            EXPECT_TRUE(fresh.find(id.sha256Hex, id.size, account)->publishedAt.isValid());
        }
    }
}

TEST(PublishJournalHash, Sha256OfFileHashesEveryByte)
{
    testsupport::TempRunDir run;
    // Past two 1 MiB blocks, so the last block is a partial one.
    QByteArray bytes(2 * 1024 * 1024 + 12345, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131) ^ (i >> 11));
    ASSERT_TRUE(testsupport::writeAll(run.file("v.mp4"), bytes));
    EXPECT_EQ(sha256OfFile(run.file("v.mp4")), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());

    ASSERT_TRUE(testsupport::writeAll(run.file("empty.mp4"), {}));
    EXPECT_EQ(sha256OfFile(run.file("empty.mp4")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_TRUE(sha256OfFile(run.file("missing.mp4")).isEmpty());
    EXPECT_TRUE(sha256OfFile(run.path()).isEmpty()); // a folder
}

#ifndef Q_OS_WIN
// The hash runs beside the upload; an attempt that ends first, or a Stop,
// never waits for it, even on a share that hangs (a pipe no one writes).
TEST(PublishJournalHash, AHashNobodyWantsHoldsNobody)
{
    testsupport::TempRunDir run;
    ASSERT_TRUE(testsupport::writeAll(run.file("v.mp4"), "bytes"));
    EXPECT_EQ(BackgroundHash(run.file("v.mp4")).result(), QCryptographicHash::hash("bytes", QCryptographicHash::Sha256).toHex());

    const QByteArray hung = QFile::encodeName(run.file("hung.mp4"));
    ASSERT_EQ(::mkfifo(hung.constData(), 0600), 0);
    auto letGo = std::async(std::launch::async, [&] { BackgroundHash hash(run.file("hung.mp4")); });
    EXPECT_EQ(letGo.wait_for(std::chrono::seconds(10)), std::future_status::ready);

    StopToken token;
    auto stopped = std::async(std::launch::async, [&] {
        StopScope scope(token);
        BackgroundHash hash(run.file("hung.mp4"));
        try {
            hash.result();
        } catch (const JobStopped &) {
            return true;
        }
        return false;
    });
    QThread::msleep(300);
    token.requestStop();
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    // Both readers are let go, so that their threads end with the test.
    for (int i = 0; i < 2; ++i) {
        const int fd = ::open(hung.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        QThread::msleep(100);
    }
}
#endif
