#include "form/form.h"
#include "app/ini_file.h"
#include "app/settings_file.h"
#include "form/window_layout.h"
#include "base/gbk.h"
#include "tests/support/test_main.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

using namespace settings;

namespace {
std::unique_ptr<Form> mainForm()
{
    auto form = std::make_unique<Form>();
    declareControls(*form, mainWindowLayout());
    return form;
}
} // namespace

TEST(SettingsFile, PathCreatesTheDataFolder)
{
    testsupport::TempRunDir run;
    EXPECT_EQ(settingsDataPath(), run.file("data/setsoft.ini"));
    EXPECT_TRUE(QDir(run.file("data")).exists());
}

TEST(SettingsFile, MultiLineTextsWithQuotesSurviveARoundTrip)
{
    testsupport::TempRunDir run;
    auto saved = mainForm();
    const QString before = QStringLiteral("第一行 \"引用\"\r\n\r\n  第三行 \"");
    saved->setText("编辑框_标题前", before);
    saved->setText("编辑框_标题后", QStringLiteral("\"整行引号\""));
    saved->setText("编辑框_视频间隔", "45");
    saved->click("单选框_移动");
    ASSERT_TRUE(saveSettings(*saved));

    const QByteArray bytes = testsupport::readAll(settingsDataPath());
    EXPECT_TRUE(bytes.contains(gbk::encode(u"编辑框_标题前=第一行 #引号引用#引号><br><><br><  第三行 #引号\r\n")));
    EXPECT_TRUE(bytes.contains(gbk::encode(u"[单选框]\r\n")));
    EXPECT_TRUE(bytes.contains(gbk::encode(u"单选框_移动=真\r\n")));
    EXPECT_TRUE(bytes.contains(gbk::encode(u"单选框_删除=假\r\n")));
    EXPECT_TRUE(bytes.contains(gbk::encode(u"组合框_一级分类=-1<|>\r\n")));

    auto loaded = mainForm();
    loadSettings(*loaded);
    EXPECT_EQ(loaded->text("编辑框_标题前"), before);
    EXPECT_EQ(loaded->text("编辑框_标题后"), QStringLiteral("\"整行引号\""));
    EXPECT_EQ(loaded->text("编辑框_视频间隔"), "45");
    EXPECT_TRUE(loaded->isChecked("单选框_移动"));
    EXPECT_FALSE(loaded->isChecked("单选框_删除"));
}

// The file stays GBK. A value it cannot hold (it would come back with '?')
// is named in the status bar and the log once per control and value; an
// ordinary Chinese value never is.
TEST(SettingsFile, TextTheGbkFileCannotHoldIsReportedOncePerControlAndValue)
{
    testsupport::TempRunDir run;
    testsupport::LogCapture log;
    const auto reported = [&](const char *name) { return log.linesWith({"tolvar.app", name, "GBK"}).size(); };
    auto form = mainForm();
    form->setText("编辑框_标题前", QStringLiteral("【原创】今日"));
    form->setText("编辑框_视频素材目录", QStringLiteral("D:\\视频\\素材"));
    ASSERT_TRUE(saveSettings(*form));
    EXPECT_TRUE(log.linesWith({"GBK"}).isEmpty()) << log.lines().join('\n').toStdString();
    EXPECT_EQ(form->partText("状态条1", 1), QString());

    form->setText("编辑框_标题前", QStringLiteral("🔥热门"));
    form->setText("编辑框_视频素材目录", QStringLiteral("D:\\영상\\소재"));
    ASSERT_TRUE(saveSettings(*form));
    EXPECT_EQ(form->partText("状态条1", 1), QStringLiteral("编辑框_视频素材目录、编辑框_标题前 含有GBK以外的字符，设置文件无法原样保存"));
    EXPECT_EQ(reported("编辑框_标题前"), 1);
    EXPECT_EQ(reported("编辑框_视频素材目录"), 1);
    const QByteArray bytes = testsupport::readAll(settingsDataPath());
    EXPECT_TRUE(bytes.contains(gbk::encode(u"热门\r\n")));
    EXPECT_FALSE(bytes.contains(QStringLiteral("热门").toUtf8()));

    // The next saves of the same values say nothing more; a new value that
    // does not fit is named again.
    form->setPartText("状态条1", 1, QString());
    ASSERT_TRUE(saveSettings(*form));
    EXPECT_EQ(form->partText("状态条1", 1), QString());
    form->setText("编辑框_标题前", QStringLiteral("🎬热门"));
    ASSERT_TRUE(saveSettings(*form));
    EXPECT_EQ(form->partText("状态条1", 1), QStringLiteral("编辑框_标题前 含有GBK以外的字符，设置文件无法原样保存"));
    EXPECT_EQ(reported("编辑框_标题前"), 2);
    EXPECT_EQ(reported("编辑框_视频素材目录"), 1);
}

TEST(SettingsFile, EscapesInStoredValuesAndEmptyValuesKeepDefaults)
{
    testsupport::TempRunDir run;
    testsupport::writeAll(settingsDataPath(), gbk::encode(
        u"[编辑框]\r\n编辑框_标题后=a><br><b#引号c\r\n编辑框_视频间隔=\r\n放弃秒=  60  \r\n"
        u"[单选框]\r\n单选框_本地封面=真\r\n单选框_系统封面_随机=真\r\n单选框_选择视频_随机=\r\n单选框_原创=是\r\n"));
    auto form = mainForm();
    loadSettings(*form);
    EXPECT_EQ(form->text("编辑框_标题后"), QStringLiteral("a\r\nb\"c"));
    EXPECT_EQ(form->text("编辑框_视频间隔"), "120");
    EXPECT_EQ(form->text("放弃秒"), "60");
    // Two radios of one group: the later one in window order wins.
    EXPECT_TRUE(form->isChecked("单选框_系统封面_随机"));
    EXPECT_FALSE(form->isChecked("单选框_本地封面"));
    EXPECT_TRUE(form->isChecked("单选框_选择视频_随机"));
    EXPECT_TRUE(form->isChecked("单选框_原创")); // anything but 假 selects
}

TEST(SettingsFile, AnEmptiedBoxIsSavedEmptyAndGetsItsDefaultBack)
{
    testsupport::TempRunDir run;
    auto saved = mainForm();
    saved->setText("编辑框_视频间隔", "");
    saveSettings(*saved);
    auto loaded = mainForm();
    loadSettings(*loaded);
    EXPECT_EQ(loaded->text("编辑框_视频间隔"), "120");
}

TEST(SettingsFile, ForeignSectionsAndWindowsStyleFilesAreKept)
{
    testsupport::TempRunDir run;
    const QByteArray foreign = gbk::encode(u"[其他窗口]\r\n编辑框_视频间隔=999\r\n; 注释\r\n\r\n[单选框]\r\n单选框_移动=真\r\n[编辑框]\r\n未知键=保留\r\n编辑框_账号序列=7\r\n");
    testsupport::writeAll(settingsDataPath(), foreign + "\xFF\xFE junk line\r\n");
    auto form = mainForm();
    loadSettings(*form);
    EXPECT_EQ(form->text("编辑框_视频间隔"), "120");
    EXPECT_EQ(form->text("编辑框_账号序列"), "7");
    EXPECT_TRUE(form->isChecked("单选框_移动"));
    form->setText("编辑框_账号序列", "8");
    saveSettings(*form, {}, "编辑框_账号标识|编辑框3");
    const QByteArray after = testsupport::readAll(settingsDataPath());
    EXPECT_TRUE(after.startsWith(gbk::encode(u"[其他窗口]\r\n编辑框_视频间隔=999\r\n; 注释\r\n")));
    EXPECT_TRUE(after.contains("\xFF\xFE junk line\r\n"));
    EXPECT_TRUE(after.contains(gbk::encode(u"未知键=保留\r\n编辑框_账号序列=8\r\n")));
    EXPECT_FALSE(after.contains(gbk::encode(u"编辑框_账号标识=")));
    EXPECT_FALSE(after.contains(gbk::encode(u"编辑框3=")));
    EXPECT_EQ(after.count(gbk::encode(u"[编辑框]")), 1);
}

TEST(SettingsFile, JunkBinaryAndHugeValuesLoadWithoutHarm)
{
    testsupport::TempRunDir run;
    QByteArray junk;
    auto *rng = QRandomGenerator::global();
    for (int i = 0; i < 200000; ++i)
        junk.append(static_cast<char>(rng->bounded(256)));
    testsupport::writeAll(settingsDataPath(), junk);
    auto form = mainForm();
    loadSettings(*form);

    // A 1 MB value is cut to 10239 bytes, never inside a character.
    const QByteArray big = gbk::encode(QString(600000, QChar(u'汉')));
    testsupport::writeAll(settingsDataPath(), gbk::encode(u"[编辑框]\r\n编辑框3=") + big + "\r\n");
    loadSettings(*form);
    EXPECT_EQ(form->text("编辑框3"), QString(5119, QChar(u'汉')));
    testsupport::writeAll(settingsDataPath(), gbk::encode(u"[编辑框]\r\n编辑框3=") + QByteArray(1 << 20, 'a') + "\r\n");
    loadSettings(*form);
    EXPECT_EQ(form->text("编辑框3").size(), 10239);
}

TEST(SettingsFile, ALongTitleLibrarySurvivesARestartWhole)
{
    testsupport::TempRunDir run;
    auto saved = mainForm();
    QString library;
    for (int i = 1; gbk::encode(library).size() < 30000; ++i)
        library += QStringLiteral("第%1个标题 title %1\r\n").arg(i);
    saved->setText("编辑框3", library);
    ASSERT_TRUE(saveSettings(*saved));
    auto loaded = mainForm();
    loadSettings(*loaded);
    EXPECT_EQ(loaded->text("编辑框3"), library);
}

TEST(SettingsFile, KilledWhileSavingNeverLeavesAHalfWrittenFile)
{
    testsupport::TempRunDir run;
    auto *rng = QRandomGenerator::global();
    for (int round = 0; round < 8; ++round) {
        QProcess writer;
        writer.start(SETTINGS_WRITER, {run.path()});
        ASSERT_TRUE(writer.waitForStarted());
        ASSERT_TRUE(writer.waitForReadyRead(10000)); // first save done
        QThread::msleep(rng->bounded(5, 60));
        writer.kill();
        writer.waitForFinished();
        auto form = mainForm();
        loadSettings(*form);
        // Every save writes one generation number into two boxes far apart in the file.
        const QString first = form->text("编辑框_账号序列");
        const QString last = form->text("编辑框_混合标签个数");
        EXPECT_FALSE(first.isEmpty());
        EXPECT_EQ(first, last) << "round " << round;
        EXPECT_EQ(form->text("编辑框3").size(), 8000);
    }
}
