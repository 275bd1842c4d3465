#include "upload/publish_journal.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {
VideoIdentity identity(const QByteArray &content, const QString &name = "a.mp4")
{
    VideoIdentity id;
    id.sha256Hex = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    id.size = content.size();
    id.name = name;
    id.account = "7";
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
        EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size), JournalState::None);
        ASSERT_TRUE(journal.record(a, JournalState::Submitting));
        EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size), JournalState::Submitting);
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
    EXPECT_EQ(fresh.stateOf(a.sha256Hex, a.size), JournalState::Published);
    EXPECT_EQ(fresh.stateOf(a.sha256Hex.toUpper(), a.size), JournalState::Published);
    EXPECT_EQ(fresh.stateOf(b.sha256Hex, b.size), JournalState::Disposed);
    // The same hash with another size is another file.
    EXPECT_EQ(fresh.stateOf(a.sha256Hex, a.size + 1), JournalState::None);
    ASSERT_TRUE(fresh.find(a.sha256Hex, a.size).has_value());
    EXPECT_EQ(fresh.find(a.sha256Hex, a.size)->title, "second title");
    EXPECT_FALSE(fresh.find(a.sha256Hex, 99).has_value());
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
    EXPECT_TRUE(journal.unsettled().isEmpty());

    // A long error text is shortened, so the outcome still gets written.
    ASSERT_TRUE(journal.record(identity("x"), JournalState::Failed, QString(100 * 1024, QChar(u'r'))));
    EXPECT_EQ(PublishJournal().stateOf(identity("x").sha256Hex, 1), JournalState::Failed);
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
    bytes += "{\"state\":\"published\",\"sha256\":\"" + c.sha256Hex + "\",\"size\":3,\"na";    // a crash mid-write
    ASSERT_TRUE(testsupport::writeAll(path(), bytes));

    PublishJournal journal;
    EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size), JournalState::Published);
    EXPECT_EQ(journal.stateOf(b.sha256Hex, b.size), JournalState::None);
    EXPECT_EQ(journal.stateOf(c.sha256Hex, c.size), JournalState::None);

    // The next line must not be glued onto the cut-off one.
    ASSERT_TRUE(journal.record(b, JournalState::Submitting));
    ASSERT_TRUE(journal.record(c, JournalState::Held, "locked by another program"));
    const QList<QByteArray> lines = nonEmptyLines(path());
    EXPECT_EQ(QJsonDocument::fromJson(lines.at(lines.size() - 2)).object().value("state").toString(), "submitting");
    EXPECT_EQ(QJsonDocument::fromJson(lines.last()).object().value("state").toString(), "held");

    PublishJournal fresh;
    EXPECT_EQ(fresh.stateOf(a.sha256Hex, a.size), JournalState::Published);
    EXPECT_EQ(fresh.stateOf(b.sha256Hex, b.size), JournalState::Submitting);
    EXPECT_EQ(fresh.stateOf(c.sha256Hex, c.size), JournalState::Held);

    // reload() sees lines another instance wrote and forgets nothing else.
    ASSERT_TRUE(fresh.record(a, JournalState::Disposed));
    journal.reload();
    EXPECT_EQ(journal.stateOf(a.sha256Hex, a.size), JournalState::Disposed);
    EXPECT_EQ(journal.stateOf(c.sha256Hex, c.size), JournalState::Held);
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

TEST_F(PublishJournalTest, UnsettledHoldsOnlySubmissionsWithoutAnOutcome)
{
    const VideoIdentity open1 = identity("open1", "open1.mp4");
    const VideoIdentity published = identity("published", "published.mp4");
    const VideoIdentity failed = identity("failed", "failed.mp4");
    const VideoIdentity held = identity("held", "held.mp4");
    const VideoIdentity open2 = identity("open2", "open2.mp4");
    {
        PublishJournal journal;
        ASSERT_TRUE(journal.record(open1, JournalState::Submitting));
        ASSERT_TRUE(journal.record(published, JournalState::Submitting));
        ASSERT_TRUE(journal.record(failed, JournalState::Submitting));
        ASSERT_TRUE(journal.record(held, JournalState::Held));
        ASSERT_TRUE(journal.record(published, JournalState::Published));
        ASSERT_TRUE(journal.record(failed, JournalState::Failed));
        ASSERT_TRUE(journal.record(open2, JournalState::Submitting));
        // A retry after a failure is open again.
        ASSERT_TRUE(journal.record(failed, JournalState::Submitting));
    }
    PublishJournal fresh;
    const QList<VideoIdentity> open = fresh.unsettled();
    ASSERT_EQ(open.size(), 3);
    EXPECT_EQ(open.at(0).name, "open1.mp4");
    EXPECT_EQ(open.at(1).name, "failed.mp4");
    EXPECT_EQ(open.at(2).name, "open2.mp4");
    EXPECT_EQ(open.at(0).title, open1.title);

    ASSERT_TRUE(fresh.record(open1, JournalState::Published));
    ASSERT_TRUE(fresh.record(open2, JournalState::Draft));
    ASSERT_TRUE(fresh.record(failed, JournalState::Failed));
    EXPECT_TRUE(fresh.unsettled().isEmpty());
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
    const std::optional<VideoIdentity> found = fresh.find(id.sha256Hex, id.size);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, id.name);
    EXPECT_EQ(found->title, id.title);
    EXPECT_EQ(found->account, id.account);
    EXPECT_TRUE(fresh.mayHold(id.size, "旅行日记 第1集.mp4"));
}

TEST_F(PublishJournalTest, RecordsFromManyThreadsStayWholeLines)
{
    PublishJournal journal;
    constexpr int kThreads = 4;
    constexpr int kEach = 10;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([&journal, t] {
            for (int i = 0; i < kEach; ++i)
                journal.record(identity(QByteArray::number(t * 100 + i), QString("v%1-%2.mp4").arg(t).arg(i)), JournalState::Submitting);
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    EXPECT_EQ(journal.unsettled().size(), kThreads * kEach);
    const QList<QByteArray> lines = nonEmptyLines(path());
    ASSERT_EQ(lines.size(), kThreads * kEach);
    for (const QByteArray &line : lines)
        EXPECT_EQ(QJsonDocument::fromJson(line).object().value("state").toString(), "submitting") << line.constData();
    EXPECT_EQ(PublishJournal().unsettled().size(), kThreads * kEach);
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
