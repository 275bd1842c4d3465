#include "upload/run_report.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const QDateTime kMorning(QDate(2026, 12, 9), QTime(10, 0));

AttemptRecord attempt(const QDateTime &time, const QString &accountId, const QString &result)
{
    AttemptRecord r;
    r.time = time;
    r.accountNumber = 1;
    r.accountId = accountId;
    r.nickname = QStringLiteral("小明");
    r.result = result;
    return r;
}

// The report's lines after its header.
QList<QByteArray> reportLines(const QDate &date)
{
    QList<QByteArray> lines = testsupport::readAll(runreport::reportPath(date)).split('\n');
    lines.removeAll(QByteArray());
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

} // namespace

TEST(RunReport, TextCellsNeverRunAsFormulas)
{
    testsupport::TempRunDir run;
    AttemptRecord r = attempt(kMorning, QStringLiteral("\t=1"), QStringLiteral("failed"));
    r.accountNumber = 3;
    r.nickname = QStringLiteral("@SUM(A1)");
    r.video = QStringLiteral("-2+3.mp4");
    r.title = QStringLiteral("=HYPERLINK(\"http://x\",\"看\")");
    r.reason = QStringLiteral("+风景 - 第1集");
    r.seconds = -1.5; // a number stays one
    ASSERT_TRUE(runreport::append(r));
    const QList<QByteArray> lines = reportLines(kMorning.date());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(QString::fromUtf8(lines.first()),
              QStringLiteral("2026-12-09 10:00:00,3,'\t=1,'@SUM(A1),'-2+3.mp4,\"'=HYPERLINK(\"\"http://x\"\",\"\"看\"\")\",failed,'+风景 - 第1集,-1.50,0.00\r"));
    EXPECT_EQ(runreport::spreadsheetText(QStringLiteral("\rx")), QStringLiteral("'\rx"));
    EXPECT_EQ(runreport::spreadsheetText(QStringLiteral("风景 = 1")), QStringLiteral("风景 = 1"));
}

TEST(RunReport, ReportsPastNinetyDaysGoAndNothingElse)
{
    testsupport::TempRunDir run;
    const QStringList kept = {"report-2026-09-10.csv", "report-2026-09-09.csv.bak", "notes-2020-01-01.csv", "tolvar.log", "report-2026-9-1.csv"};
    for (const QString &name : kept + QStringList{"report-2026-09-09.csv", "report-2025-01-31.csv"})
        ASSERT_TRUE(testsupport::writeAll(run.file("logs/" + name), "x"));
    ASSERT_TRUE(QDir().mkpath(run.file("logs/report-2020-01-01.csv")));
    ASSERT_TRUE(testsupport::writeAll(run.file("logs/failures/report-2020-01-01.csv"), "x"));

    ASSERT_TRUE(runreport::append(attempt(kMorning, "7", "published")));
    QStringList expected = kept + QStringList{"report-2026-12-09.csv", "report-2020-01-01.csv", "failures"};
    expected.sort();
    EXPECT_EQ(QDir(run.file("logs")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expected);
    EXPECT_TRUE(QFile::exists(run.file("logs/failures/report-2020-01-01.csv")));

    // A run that goes on past midnight removes the next day's share.
    ASSERT_TRUE(runreport::append(attempt(kMorning.addDays(1), "7", "published")));
    EXPECT_FALSE(QFile::exists(run.file("logs/report-2026-09-10.csv")));
    EXPECT_TRUE(QFile::exists(run.file("logs/report-2026-12-09.csv")));
}

// One line written while the clock is a year ahead removes no real report:
// the count goes back from when the newest report was written.
TEST(RunReport, AClockAYearAheadLeavesTheRealReports)
{
    testsupport::TempRunDir run;
    const QDateTime now = QDateTime::currentDateTime();
    const auto write = [&](int daysAgo) {
        const QString path = runreport::reportPath(now.date().addDays(-daysAgo));
        EXPECT_TRUE(testsupport::writeAll(path, "x"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        EXPECT_TRUE(file.setFileTime(now.addDays(-daysAgo), QFileDevice::FileModificationTime));
        return path;
    };
    const QString recent = write(10), older = write(60), old = write(120);
    ASSERT_TRUE(runreport::append(attempt(now.addDays(365), "7", "published")));
    EXPECT_TRUE(QFile::exists(recent));
    EXPECT_TRUE(QFile::exists(older));
    EXPECT_FALSE(QFile::exists(old)); // past ninety days by any clock
    EXPECT_TRUE(QFile::exists(runreport::reportPath(now.date().addDays(365))));
}

TEST(RunReport, NoVideoAtMostOncePerAccountAnHour)
{
    testsupport::TempRunDir run;
    const QString a = QStringLiteral("throttle-a");
    const QString b = QStringLiteral("throttle-b");
    for (int minute : {0, 10, 59})
        ASSERT_TRUE(runreport::append(attempt(kMorning.addSecs(minute * 60), a, "no video")));
    ASSERT_TRUE(runreport::append(attempt(kMorning.addSecs(10 * 60), b, "no video")));
    ASSERT_TRUE(runreport::append(attempt(kMorning.addSecs(20 * 60), a, "published")));
    ASSERT_TRUE(runreport::append(attempt(kMorning.addSecs(61 * 60), a, "no video")));
    const QList<QByteArray> lines = reportLines(kMorning.date());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.at(0).startsWith("2026-12-09 10:00:00,1,throttle-a,"));
    EXPECT_TRUE(lines.at(1).startsWith("2026-12-09 10:10:00,1,throttle-b,"));
    EXPECT_TRUE(lines.at(2).contains(",published,"));
    EXPECT_TRUE(lines.at(3).startsWith("2026-12-09 11:01:00,1,throttle-a,"));
}
