#include "app/desktop_shortcut.h"
#include "app/restart.h"
#include "base/gbk.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>


namespace {

// On Linux the desktop of a throw-away user. On Windows the shell's desktop
// is the user's own (under Wine the test prefix's, a folder of its own), so
// the tests there use link names no user has and remove what they made.
class DesktopTest : public ::testing::Test {
protected:
    DesktopTest()
    {
#ifndef Q_OS_WIN
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(".config").toLocal8Bit());
#endif
        QDir().mkpath(desktop());
    }
    ~DesktopTest() override
    {
        QFile::remove(shortcut::desktopLinkPath(QStringLiteral("tolvar-test-tool")));
        QFile::remove(shortcut::desktopLinkPath(QStringLiteral("Tolvar测试桌面链接")));
#ifndef Q_OS_WIN
        qputenv("HOME", savedHome);
        qputenv("XDG_CONFIG_HOME", savedConfig);
#endif
    }

    QString desktop() const
    {
#ifdef Q_OS_WIN
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
#else
        return home.filePath("Desktop");
#endif
    }
    QString link(const QString &name) const { return desktop() + u'/' + name; }

    QByteArray savedHome = qgetenv("HOME");
    QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir home;
};

TEST_F(DesktopTest, NameRules)
{
    EXPECT_EQ(shortcut::desktopFolder(), desktop());
    const QString ext = shortcut::linkExtension();
    EXPECT_EQ(shortcut::desktopLinkPath("/opt/tools/tool.exe"), link("tool" + ext));
    EXPECT_EQ(shortcut::desktopLinkPath("C:\\tools\\tool.exe"), link("tool" + ext));
    EXPECT_EQ(shortcut::desktopLinkPath("Tolvar视频批量发布"), link("Tolvar视频批量发布" + ext));
    EXPECT_EQ(shortcut::desktopLinkPath("tool" + ext.toUpper()), link("tool" + ext.toUpper()));
    EXPECT_EQ(shortcut::desktopLinkPath("C:\\tools\\"), link(ext));
    // Whatever the name, the link stays on the desktop.
    EXPECT_EQ(QFileInfo(shortcut::desktopLinkPath("../../x")).absolutePath(), desktop());
}

TEST_F(DesktopTest, FullPathTargetMakesALauncher)
{
    ShortcutRequest r;
    r.name = QStringLiteral("/opt/my tools/tolvar-test-tool.exe");
    r.target = QStringLiteral("/opt/my tools/$HOME 100%.sh");
    r.arguments = QStringLiteral("--start");
    r.description = QStringLiteral("批量发布\n第二行");
    ASSERT_TRUE(createDesktopShortcut(r));
#ifndef Q_OS_WIN
    const QString path = link("tolvar-test-tool.desktop");
    ASSERT_TRUE(QFileInfo::exists(path));
    EXPECT_TRUE(QFileInfo(path).isExecutable());
    const QString text = QString::fromUtf8(testsupport::readAll(path));
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\nName=tolvar-test-tool\n"));
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"/opt/my tools/\\\\$HOME 100%%.sh\" --start\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains("Path=/opt/my tools/\n"));
    EXPECT_TRUE(text.contains(QStringLiteral("Comment=批量发布\\n第二行\n")));
#endif
}

TEST_F(DesktopTest, TargetWithoutFolderDeletesAndMakesNothing)
{
    const QString path = shortcut::desktopLinkPath("Tolvar测试桌面链接");
    for (const QString &target : {QString(), QStringLiteral("tolvar")}) {
        ASSERT_TRUE(testsupport::writeAll(path, "old link"));
        EXPECT_FALSE(createDesktopShortcut("Tolvar测试桌面链接", target));
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    // No link at all is no failure of the deletion.
    EXPECT_FALSE(createDesktopShortcut("Tolvar测试桌面链接", QString()));
}

TEST(RestartScript, BatchTextIsFourCrLfLinesInGbk)
{
    EXPECT_EQ(restart::pauseCount(0), 2);
    EXPECT_EQ(restart::pauseCount(-3), 2);
    EXPECT_EQ(restart::pauseCount(5), 5);
#ifdef Q_OS_WIN
    // The short form leaves no space in the path (when the volume keeps 8.3 names).
    QTemporaryDir dir;
    const QString program = dir.filePath("my program 秒数.exe");
    ASSERT_TRUE(testsupport::writeAll(program, "x"));
    const QString text = gbk::decode(restart::batchScriptText(program, {}, 2));
    const QString third = text.split("\r\n").value(2);
    EXPECT_TRUE(third.startsWith("start \"\" \""));
#else
    const QString program = QStringLiteral("/opt/my tools/秒数/tolvar");
    const QByteArray text = restart::batchScriptText(program, {}, restart::pauseCount(0));
    EXPECT_EQ(text, gbk::encode(QStringLiteral("@echo off \r\n@ping 127.0.0.1 -n 2 >nul\r\nstart \"\" \"/opt/my tools/秒数/tolvar\"\r\ndel Restart.bat")));
    EXPECT_EQ(gbk::decode(restart::batchScriptText(program, {"--run-dir", "D:\\x"}, 7)).split("\r\n").mid(1, 2),
              (QStringList{"@ping 127.0.0.1 -n 7 >nul", QStringLiteral("start \"\" \"/opt/my tools/秒数/tolvar\" \"--run-dir\" \"D:\\x\"")}));
#endif
    // % is doubled (cmd expands it even in quotes); a quote is \" for the
    // program, and what that leaves outside cmd's quotes gets a ^.
    const QString line = gbk::decode(restart::batchScriptText(QStringLiteral("/opt/tolvar"), {"D:\\100% 数据\\", "a\"b&c", "say \"hi\" & go"}, 2)).split("\r\n").value(2);
    EXPECT_TRUE(line.endsWith(QStringLiteral(" \"D:\\100%% 数据\\\\\" \"a\\\"b^&c\" \"say \\\"hi\\\" ^& go\""))) << line.toStdString();
    // Inside cmd's quotes & ^ ( ) are plain characters: no ^ goes in there.
    const QString special = QStringLiteral("/opt/a&b (1)^/tolvar"); // no such file: no short form
    EXPECT_EQ(gbk::decode(restart::batchScriptText(special, {"--run-dir", "D:\\运行 (甲&乙)^"}, 2)).split("\r\n").value(2),
              "start \"\" \"" + QDir::toNativeSeparators(special) + QStringLiteral("\" \"--run-dir\" \"D:\\运行 (甲&乙)^\""));
    EXPECT_EQ(restart::restartArguments({"--start", "--run-dir", "data", "--run-dir=x", "--headless"}, "/abs/run"),
              (QStringList{"--start", "--run-dir", "/abs/run", "--run-dir=/abs/run", "--headless"}));
}

// The whole road: a program in a folder with a space and Chinese in its
// name restarts itself through the script (cmd with a hidden window on
// Windows), gets its arguments again (a relative run directory made
// absolute; a % and, where start passes it on, a quote intact), and the
// script is gone afterwards. Both folders hold what cmd would otherwise
// take as its own: & ^ ( ).
TEST(RestartScript, TheProgramReallyStartsAgainAndTheScriptDeletesItself)
{
    testsupport::TempRunDir run;
    QDir().mkpath(run.file("my&dir (程序)^"));
    const QString program = run.file("my&dir (程序)^/" + QFileInfo(TOLVAR_RESTART_PROBE).fileName());
    ASSERT_TRUE(QFile::copy(TOLVAR_RESTART_PROBE, program));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    const QString runDir = run.file("运行 目录 (甲&乙)^");
    QDir().mkpath(runDir);
    const QString starts = runDir + "/starts.txt";
    const QString script = runDir + "/" + QFileInfo(restart::scriptPath()).fileName();
#ifdef Q_OS_WIN
    // Wine's start.exe rebuilds the command line from its own argv, quoting
    // only on spaces, so a quote inside an argument cannot pass through it
    // there; the script's text for that case is checked above.
    const QString argument = QStringLiteral("二 号 100%");
#else
    const QString argument = QStringLiteral("二 \"号\" 100%");
#endif
    ASSERT_TRUE(QProcess::startDetached(program, {"--run-dir", "运行 目录 (甲&乙)^", argument}, run.path()));
    QElapsedTimer waited;
    waited.start();
    QStringList lines;
    while (waited.elapsed() < 30000) {
        lines = QString::fromUtf8(testsupport::readAll(starts)).split(u'\n', Qt::SkipEmptyParts);
        if (lines.size() >= 2 && !QFileInfo::exists(script))
            break;
        QThread::msleep(100);
    }
    EXPECT_EQ(lines, (QStringList{"--run-dir|运行 目录 (甲&乙)^|" + argument, "--run-dir|" + QDir::toNativeSeparators(runDir) + u'|' + argument}));
    EXPECT_FALSE(QFileInfo::exists(script));
}

#ifdef Q_OS_WIN
TEST(RestartScript, BatchScriptStartsTheShortPathInGbkWithCrLf)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("带 空格"));
    const QString program = dir.filePath("带 空格/程序 名.exe");
    ASSERT_TRUE(testsupport::writeAll(program, "x"));
    const QByteArray bytes = restart::batchScriptText(program, {"--run-dir", "D:\\数据"}, 3);
    const QStringList lines = gbk::decode(bytes).split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    EXPECT_FALSE(bytes.contains("\n\n"));
    EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n"));
    EXPECT_EQ(lines[0], "@echo off ");
    EXPECT_EQ(lines[1], "@ping 127.0.0.1 -n 3 >nul");
    const QString start = lines[2];
    ASSERT_TRUE(start.startsWith("start \"\" \"")) << start.toStdString();
    const QString path = start.mid(10, start.indexOf(u'"', 10) - 10);
    EXPECT_FALSE(path.contains(u' ')) << path.toStdString(); // the 8.3 form
    EXPECT_TRUE(path.endsWith(".EXE", Qt::CaseInsensitive));
    EXPECT_TRUE(QFileInfo(path).exists());
    EXPECT_TRUE(start.endsWith(QStringLiteral(" \"--run-dir\" \"D:\\数据\"")));
    EXPECT_EQ(lines[3], "del Restart.bat");
    EXPECT_EQ(gbk::encode(lines[1]), QByteArray("@ping 127.0.0.1 -n 3 >nul"));
    EXPECT_TRUE(bytes.contains(gbk::encode(u"数据")));
}
#endif

#ifndef Q_OS_WIN
TEST(RestartScript, ShellScriptWaitsStartsTheProgramAndDeletesItself)
{
    testsupport::TempRunDir run;
    // A stand-in program with a quote and a space in its path: it records its arguments.
    QDir().mkpath(run.file("it's here"));
    const QString program = run.file("it's here/program");
    const QString marker = run.file("started.txt");
    ASSERT_TRUE(testsupport::writeAll(program, QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(marker).toUtf8()));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);

    ASSERT_TRUE(restart::launchRestartScript(program, {"--run-dir", "a b"}, 1));
    EXPECT_EQ(restart::scriptPath(), run.file("Restart.sh"));
    QElapsedTimer waited;
    waited.start();
    // The file appears before the program has written its line into it.
    while (!(testsupport::readAll(marker).endsWith('\n') && !QFileInfo::exists(restart::scriptPath())) && waited.elapsed() < 20000)
        QThread::msleep(50);
    EXPECT_EQ(testsupport::readAll(marker), "--run-dir a b\n");
    EXPECT_FALSE(QFileInfo::exists(restart::scriptPath()));
}
#endif

} // namespace
