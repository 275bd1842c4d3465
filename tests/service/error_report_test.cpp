#include "base/gbk.h"
#include "service/error_report.h"
#include "service/fatal_error_handler.h"
#include "tests/service/recording_view.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_support.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

using errorreport::ErrorReport;
using testsupport::SimProcess;

namespace {

ErrorReport sampleReport()
{
    ErrorReport r;
    r.hostName = QStringLiteral("OFFICE PC");
    r.programFileName = QStringLiteral("tol var.exe");
    r.runDirectory = QStringLiteral("D:\\工具\\tolvar");
    r.operatingSystem = QStringLiteral("Windows 10");
    r.version = QStringLiteral("3.0");
    r.errorCode = 5;
    r.errorText = QStringLiteral("第一行\r\n第二行");
    return r;
}

TEST(ErrorReportText, TitleLosesSpacesBodyKeepsThem)
{
    const ErrorReport r = sampleReport();
    EXPECT_EQ(r.title(), QStringLiteral("电脑OFFICEPC发现bug，软件-tolvar.exe版本号3.0"));
    EXPECT_EQ(r.body(), QStringLiteral("所属软件：tol var.exe\r\n    软件运行路径：D:\\工具\\tolvar\r\n   操作系统：Windows 10"
                                       "\r\n   软件错误代码：5\r\n   错误信息：第一行\r\n第二行     Tolvar软件 错误信息和bug通知系统。\r\n"));
    ErrorReport noHost = r;
    noHost.hostName.clear();
    EXPECT_TRUE(noHost.title().startsWith(QStringLiteral("电脑发现bug，软件-")));
}

TEST(ErrorReportText, PercentEncodingOfGbkBytes)
{
    EXPECT_EQ(errorreport::percentEncode("Az09-._~ /"), "Az09-.%5F%7E+%2F");
    EXPECT_EQ(errorreport::percentEncode(QByteArray("a\0b", 3)), "ab");
    EXPECT_EQ(errorreport::percentEncode("\r\n"), "%0D%0A");
    // 电脑 in GBK is B5 E7 C4 D4.
    EXPECT_EQ(errorreport::percentEncode(gbk::encode(QStringLiteral("电脑"))), "%B5%E7%C4%D4");
    EXPECT_EQ(errorreport::percentEncode(gbk::encode(sampleReport().body())).count("%0D%0A"), 6);
    EXPECT_TRUE(errorreport::percentEncode(gbk::encode(sampleReport().body())).contains("tol+var.exe"));
}

TEST(ErrorReportText, SecondsCountFromEightOClock)
{
    const QDateTime utc8(QDate(2023, 11, 15), QTime(6, 13, 20), QTimeZone(8 * 3600));
    EXPECT_EQ(errorreport::unixSecondsText(utc8), "1700000000");
    // The same wall-clock time in another zone gives the same text.
    const QDateTime utc(QDate(2023, 11, 15), QTime(6, 13, 20), QTimeZone::utc());
    EXPECT_EQ(errorreport::unixSecondsText(utc), "1700000000");
    // Short counts are padded on the right, long ones cut.
    const QDateTime early(QDate(1970, 1, 1), QTime(8, 0, 7), QTimeZone(8 * 3600));
    EXPECT_EQ(errorreport::unixSecondsText(early), "7000000000");
    const QDateTime late(QDate(2300, 1, 1), QTime(0, 0), QTimeZone(8 * 3600));
    EXPECT_EQ(errorreport::unixSecondsText(late), "1041376320");
}

TEST(ErrorReportText, SignHeaderAndAddress)
{
    EXPECT_EQ(errorreport::buildSignHeader("1700000000"), "sign:eacd3872cd58105582d400c7b5589215@1700000000");
    ServiceConfig c;
    c.notifyTarget = QStringLiteral("dev@example");
    c.notifyHost = QStringLiteral("notify.local");
    const QString url = errorreport::notificationUrl(c, sampleReport());
    EXPECT_TRUE(url.startsWith("http://notify.local:8899/tongzhi?mubiao=dev@example&title=%B5%E7%C4%D4OFFICEPC")) << url.toStdString();
    EXPECT_TRUE(url.endsWith("&sa=1"));
    c.notifyHost = QStringLiteral("https://127.0.0.1:9000/");
    EXPECT_TRUE(errorreport::notificationUrl(c, sampleReport()).startsWith("https://127.0.0.1:9000/tongzhi?"));
    c.notifyHost = QStringLiteral("[::1]");
    EXPECT_TRUE(errorreport::notificationUrl(c, sampleReport()).startsWith("http://[::1]:8899/tongzhi?"));
}

class ErrorReportSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
        QDir().mkpath(run.file("data"));
        ASSERT_TRUE(testsupport::writeAll(run.file("data/services.ini"), simServicesIni(sim.port())));
    }

    testsupport::TempRunDir run;
    SimProcess sim{{}, QString(), QStringLiteral(TOLVAR_STUDIO_SIM_BIN)};
};

TEST_F(ErrorReportSimTest, ReportArrivesWithTheBytesAndAcceptedSign)
{
    const ErrorReport r = sampleReport();
    errorreport::sendReport(simConfig(sim.port()), r);
    const QList<QJsonObject> reports = sim.notifications();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0]["title"].toString(), r.title());
    EXPECT_EQ(reports[0]["body"].toString(), r.body());
    EXPECT_EQ(reports[0]["mubiao"].toString(), "tolvar");
    EXPECT_EQ(reports[0]["sa"].toString(), "1");
    EXPECT_TRUE(reports[0]["target"].toString().contains("%0D%0A%B5%DA%B6%FE%D0%D0"));
}

TEST_F(ErrorReportSimTest, TwoReportsInOneSecondCarryTheSameSign)
{
    // Start right after a second turns, so both requests fall into it.
    const QDateTime now = QDateTime::currentDateTime();
    QThread::msleep(static_cast<unsigned long>(1000 - now.time().msec()) + 20);
    errorreport::sendReport(simConfig(sim.port()), sampleReport());
    errorreport::sendReport(simConfig(sim.port()), sampleReport());
    const QList<QJsonObject> reports = sim.notifications();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reports[0]["sign"].toString(), reports[1]["sign"].toString());
    const QString sign = reports[0]["sign"].toString();
    EXPECT_EQ(QStringLiteral("sign:") + sign, errorreport::buildSignHeader(sign.section('@', 1)));
}

TEST_F(ErrorReportSimTest, HandlerShowsTheNoticeThenSends)
{
    RecordingPresenter presenter(messagebox::Answer::Ok);
    errorreport::sendErrorReport(7, QStringLiteral("访问越界"));
    ASSERT_EQ(presenter.titles(), QStringList{QStringLiteral("Tolvar软件bug提示")});
    EXPECT_EQ(presenter.texts().first(), QStringLiteral("软件发生致命错误，已经上报开发人员加紧修复bug\r\n   软件错误代码：7\r\n   错误信息：访问越界"));
    const QList<QJsonObject> reports = sim.notifications();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0]["body"].toString().contains(QStringLiteral("软件错误代码：7\r\n   错误信息：访问越界")));
    EXPECT_TRUE(reports[0]["body"].toString().contains(run.path()));
}

TEST_F(ErrorReportSimTest, RefusedOrFailingServiceIsSilent)
{
    ASSERT_TRUE(sim.setKnobs({{"fail-notify", "1"}}));
    errorreport::sendReport(simConfig(sim.port()), sampleReport());
    EXPECT_TRUE(sim.notifications().isEmpty());
}

// The helper program meets a fatal error of the given kind in a run directory.
int runFatalHelper(const QString &kind, const QString &runDir, QByteArray *stderrText = nullptr)
{
    QProcess helper;
    helper.start(QStringLiteral(FATAL_HELPER), {kind, runDir});
    helper.waitForFinished(60000);
    if (stderrText)
        *stderrText = helper.readAllStandardError();
    return helper.exitStatus() == QProcess::CrashExit ? -1 : helper.exitCode();
}

TEST_F(ErrorReportSimTest, UncaughtExceptionIsReportedBeforeTheProcessEnds)
{
    QByteArray stderrText;
    EXPECT_EQ(runFatalHelper("throw", run.path(), &stderrText), -1);
    EXPECT_TRUE(QString::fromLocal8Bit(stderrText).contains(QStringLiteral("[Tolvar软件bug提示] 软件发生致命错误")));
    const QList<QJsonObject> reports = sim.notifications();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0]["body"].toString().contains(QStringLiteral("软件错误代码：1\r\n   错误信息：helper failed")));
    // The abort that follows the report leaves no crash marker behind.
    EXPECT_FALSE(QFile::exists(run.file("data/crash-marker.txt")));
}

TEST_F(ErrorReportSimTest, QtFatalMessageIsReported)
{
    EXPECT_EQ(runFatalHelper("qfatal", run.path()), -1);
    const QList<QJsonObject> reports = sim.notifications();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0]["body"].toString().contains(QStringLiteral("软件错误代码：2\r\n   错误信息：helper fatal")));
}

TEST_F(ErrorReportSimTest, CrashLeavesAMarkerTheNextStartReports)
{
    EXPECT_EQ(runFatalHelper("segv", run.path()), -1);
    EXPECT_TRUE(sim.notifications().isEmpty());
    EXPECT_EQ(testsupport::readAll(run.file("data/crash-marker.txt")), "11 SIGSEGV\n");
    qint32 code = 0;
    QString text;
    ASSERT_TRUE(fatalerror::takeCrashMarker(code, text));
    EXPECT_EQ(code, 11);
    EXPECT_EQ(text, QStringLiteral("上次运行异常终止：SIGSEGV"));
    EXPECT_FALSE(QFile::exists(run.file("data/crash-marker.txt")));
    EXPECT_FALSE(fatalerror::takeCrashMarker(code, text));

    // The next start sends it without a box.
    EXPECT_EQ(runFatalHelper("segv", run.path()), -1);
    EXPECT_EQ(runFatalHelper("start", run.path()), 0);
    ASSERT_TRUE(waitUntil([this] { return sim.notifications().size() == 1; }));
    EXPECT_TRUE(sim.notifications()[0]["body"].toString().contains(QStringLiteral("软件错误代码：11\r\n   错误信息：上次运行异常终止：SIGSEGV")));
    EXPECT_FALSE(QFile::exists(run.file("data/crash-marker.txt")));
}

} // namespace
