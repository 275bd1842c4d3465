#include "runlog/run_log.h"

#include "base/gbk.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <thread>

using namespace runlog;

TEST(RunLogStamp, ShortestTimeFormAndNoLeadingZeros)
{
    const QDate d(2021, 5, 3);
    EXPECT_EQ(dateText(d), QStringLiteral("2021年5月3日"));
    EXPECT_EQ(dateTimeText(QDateTime(d, QTime(10, 0, 0))), QStringLiteral("2021年5月3日10时"));
    EXPECT_EQ(dateTimeText(QDateTime(d, QTime(10, 5, 0))), QStringLiteral("2021年5月3日10时5分"));
    EXPECT_EQ(dateTimeText(QDateTime(d, QTime(9, 5, 7))), QStringLiteral("2021年5月3日9时5分7秒"));
    EXPECT_EQ(dateTimeText(QDateTime(d, QTime(0, 0, 0))), QStringLiteral("2021年5月3日"));
    EXPECT_EQ(dateTimeText(QDateTime(d, QTime(0, 0, 9))), QStringLiteral("2021年5月3日0时0分9秒"));
}

TEST(RunLogFile, NameHasNoSeparatorBeforeTheDate)
{
    testsupport::TempRunDir run;
    EXPECT_EQ(runLogPath(QDate(2021, 5, 15)), run.file(QStringLiteral("data/运行日志2021年5月15日.txt")));
}

TEST(RunLogFile, NewestLineFirstInGbkWithCrLf)
{
    testsupport::TempRunDir run;
    QDir().mkpath(run.file("data"));
    appendRunLog(QStringLiteral("启动窗口创建完毕"));
    appendRunLog(QStringLiteral("启动窗口线程"));
    const QByteArray bytes = testsupport::readAll(runLogPath(QDate::currentDate()));
    const QList<QByteArray> lines = bytes.split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].isEmpty());
    EXPECT_TRUE(lines[0].endsWith(gbk::encode(u"   启动窗口线程") + "\r"));
    EXPECT_TRUE(lines[1].endsWith(gbk::encode(u"   启动窗口创建完毕") + "\r"));
    EXPECT_TRUE(lines[0].startsWith(gbk::encode(dateText(QDate::currentDate()))));
}

TEST(RunLogFile, MissingDataFolderLosesTheLineQuietly)
{
    testsupport::TempRunDir run;
    appendRunLog(QStringLiteral("x"));
    EXPECT_FALSE(QDir(run.file("data")).exists());
    EXPECT_FALSE(QFile::exists(runLogPath(QDate::currentDate())));
}

TEST(RunLogFile, NoFileDoesNothing)
{
    testsupport::TempRunDir run;
    QDir().mkpath(run.file("data"));
    appendRunLog(QStringLiteral("x"), {}, true);
    EXPECT_FALSE(QFile::exists(runLogPath(QDate::currentDate())));
}

TEST(RunLogFile, TwoThreadsLoseNoLineAndContentLargerThanOneBlockMoves)
{
    testsupport::TempRunDir run;
    QDir().mkpath(run.file("data"));
    auto writer = [](QString tag) {
        for (int i = 0; i < 500; ++i)
            appendRunLog(tag + QString::number(i));
    };
    std::thread a(writer, QStringLiteral("甲"));
    std::thread b(writer, QStringLiteral("乙"));
    a.join();
    b.join();
    const QString text = gbk::decode(testsupport::readAll(runLogPath(QDate::currentDate())));
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1000);
    // Each writer's lines appear newest first, none lost or torn.
    int nextA = 499, nextB = 499;
    for (const QString &line : lines) {
        const QString msg = line.section(QStringLiteral("   "), 1);
        if (msg.startsWith(u'甲'))
            EXPECT_EQ(msg, QStringLiteral("甲") + QString::number(nextA--));
        else
            EXPECT_EQ(msg, QStringLiteral("乙") + QString::number(nextB--));
    }
    EXPECT_EQ(nextA, -1);
    EXPECT_EQ(nextB, -1);
}
