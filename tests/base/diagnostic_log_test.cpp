#include "base/diagnostic_log.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

namespace {

Q_LOGGING_CATEGORY(lcTest, "tolvar.test", QtInfoMsg)

QStringList logLines(const QString &path)
{
    QStringList lines = QString::fromUtf8(testsupport::readAll(path)).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Installed for one test; messages also go on to the tests' own checks.
class DiagnosticLogTest : public ::testing::Test {
protected:
    void install(qint64 rollBytes = 5 * 1024 * 1024)
    {
        diagnostics::Options options;
        options.rollBytes = rollBytes;
        options.forward = true;
        diagnostics::install(options);
    }
    ~DiagnosticLogTest() override { diagnostics::uninstall(); }

    testsupport::TempRunDir m_run;
};

} // namespace

TEST_F(DiagnosticLogTest, OneUtf8LinePerMessageWithTimeLevelCategoryAndThread)
{
    install();
    EXPECT_EQ(diagnostics::logPath(), m_run.file("logs/tolvar.log"));
    qCWarning(lcTest) << "上传失败 at step" << 3;
    qCInfo(lcTest, "first\nsecond\r\nthird");
    qCDebug(lcTest) << "debug is off without --verbose";
    QThread *worker = QThread::create([] {
        diagnostics::setThreadName("job");
        qCWarning(lcTest) << "from the job";
    });
    worker->start();
    worker->wait();
    delete worker;

    const QStringList lines = logLines(diagnostics::logPath());
    ASSERT_EQ(lines.size(), 3) << lines.join(u'\n').toStdString();
    static const QRegularExpression shape(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ([DIWCF]) (\\S+) \\[([^\\]]+)\\] (.*)$"));
    const auto first = shape.match(lines[0]);
    ASSERT_TRUE(first.hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(first.captured(1), "W");
    EXPECT_EQ(first.captured(2), "tolvar.test");
    EXPECT_EQ(first.captured(3), "main");
    EXPECT_EQ(first.captured(4), "上传失败 at step 3");
    EXPECT_TRUE(lines[1].endsWith(" I tolvar.test [main] first\\nsecond\\nthird")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(" W tolvar.test [job] from the job")) << lines[2].toStdString();
}

TEST_F(DiagnosticLogTest, RollsOverAtTheLimitKeepingThreeFiles)
{
    install(1000);
    const QString filler(90, u'x');
    for (int i = 0; i < 60; ++i)
        qCWarning(lcTest).noquote() << i << filler;
    const QString path = diagnostics::logPath();
    QDir logs(QFileInfo(path).absolutePath());
    EXPECT_EQ(logs.entryList(QDir::Files, QDir::Name), (QStringList{"tolvar.log", "tolvar.log.1", "tolvar.log.2"}));
    for (const QString &name : logs.entryList(QDir::Files))
        EXPECT_LE(QFileInfo(logs.filePath(name)).size(), 1000) << name.toStdString();
    // The newest lines are in tolvar.log, the older ones behind it in order.
    const QStringList newest = logLines(path);
    ASSERT_FALSE(newest.isEmpty());
    EXPECT_TRUE(newest.last().contains(" 59 " + filler));
    const QStringList older = logLines(path + ".1");
    ASSERT_FALSE(older.isEmpty());
    const auto number = [](const QString &line) { return line.section(u']', 1).trimmed().section(u' ', 0, 0).toInt(); };
    EXPECT_EQ(number(older.last()) + 1, number(newest.first()));
    EXPECT_EQ(number(logLines(path + ".2").last()) + 1, number(older.first()));
}

TEST_F(DiagnosticLogTest, VerboseTurnsOnDebugMessages)
{
    diagnostics::Options options;
    options.verbose = true;
    options.forward = true;
    diagnostics::install(options);
    qCDebug(lcTest) << "a step";
    diagnostics::install({.forward = true}); // back to the default
    qCDebug(lcTest) << "not this one";
    const QStringList lines = logLines(diagnostics::logPath());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(" D tolvar.test [main] a step"));
}
