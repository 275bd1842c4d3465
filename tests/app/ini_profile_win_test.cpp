// The settings file against the Windows profile functions themselves: what
// the older program wrote through WritePrivateProfileStringA loads as it
// would have read it, and what we save it reads back.
#include "form/form.h"
#include "app/ini_file.h"
#include "app/settings_file.h"
#include "form/window_layout.h"
#include "base/gbk.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

using namespace settings;

namespace {

QByteArray hex(const QString &text)
{
    return gbk::encode(text).toHex();
}

// One probe run: lines of hex fields in, lines of hex values out.
QList<QByteArray> runProbe(const char *mode, const QString &file, const QList<QStringList> &rows)
{
    QByteArray input;
    for (const QStringList &row : rows) {
        QList<QByteArray> fields;
        for (const QString &f : row)
            fields.append(hex(f));
        input += fields.join('\t') + '\n';
    }
    QProcess probe;
    probe.start(TOLVAR_INI_PROBE, {QString::fromLatin1(mode), QDir::toNativeSeparators(file)});
    EXPECT_TRUE(probe.waitForStarted(10000)) << probe.errorString().toStdString();
    probe.write(input);
    probe.closeWriteChannel();
    EXPECT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 0);
    QList<QByteArray> out;
    for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
        const QByteArray t = line.trimmed();
        if (!t.isEmpty() || out.size() < rows.size())
            out.append(QByteArray::fromHex(t));
    }
    out.resize(rows.size());
    return out;
}

std::unique_ptr<Form> mainForm()
{
    auto form = std::make_unique<Form>();
    declareControls(*form, mainWindowLayout());
    return form;
}

} // namespace

// Byte for byte, the reader of the Windows profile functions and ours agree
// on every shape of line a hand-edited or older file can hold.
TEST(ProfileFunctions, OurReaderReadsWhatGetPrivateProfileStringReads)
{
    testsupport::TempRunDir run;
    const QString path = run.file("data/hand.ini");
    QDir().mkpath(run.file("data"));
    const QString text = QStringLiteral(
        "; a comment=not a key\r\n"
        "[编辑框]\r\n"
        "编辑框_视频间隔=  45  \r\n"
        "编辑框_标题前=\"引号里的 值\"\r\n"
        "编辑框_标题后=\"只有开头的引号\r\n"
        "编辑框_视频素材目录=C:\\视频 素材\\账号1\\\r\n"
        "编辑框_封面目录=a=b=c\r\n"
        "编辑框_账号序列=\r\n"
        "编辑框_重复=第一个\r\n"
        "编辑框_重复=第二个\r\n"
        "这一行没有等号\r\n"
        "  编辑框_前后空白  =  值 带空格 \r\n"
        "[ Other Section ]\r\n"
        "MixedCase=大小写\r\n"
        "tab\t=\t制表符\t\r\n"
        "[单选框]\r\n"
        "单选框_移动=真\r\n");
    ASSERT_TRUE(testsupport::writeAll(path, gbk::encode(text)));

    const QList<QStringList> keys = {
        {"编辑框", "编辑框_视频间隔"}, {"编辑框", "编辑框_标题前"}, {"编辑框", "编辑框_标题后"},
        {"编辑框", "编辑框_视频素材目录"}, {"编辑框", "编辑框_封面目录"}, {"编辑框", "编辑框_账号序列"},
        {"编辑框", "编辑框_重复"}, {"编辑框", "这一行没有等号"}, {"编辑框", "编辑框_前后空白"},
        {"other section", "mixedcase"}, {"OTHER SECTION", "MIXEDCASE"}, {"Other Section", "tab"},
        {"单选框", "单选框_移动"}, {"编辑框", "缺少的键"}, {"缺少的节", "单选框_移动"}, {"; a comment", "not a key"},
    };
    const QList<QByteArray> windows = runProbe("read", path, keys);
    const IniFile ours = IniFile::load(path);
    for (int i = 0; i < keys.size(); ++i)
        EXPECT_EQ(gbk::encode(ours.value(keys[i][0], keys[i][1])), windows[i]) << keys[i].join(" / ").toStdString();
}

TEST(ProfileFunctions, SettingsTheOlderProgramWroteLoadIntoTheForm)
{
    testsupport::TempRunDir run;
    const QString path = settingsDataPath();
    const QString prefix = QStringLiteral("第一行 \"引用\"\r\n\r\n  第三行");
    const QString folder = QStringLiteral("C:\\视频 素材\\已使用 视频\\");
    runProbe("write", path, {
        {"编辑框", "编辑框_标题前", encodeEditValue(prefix)},
        {"编辑框", "编辑框_使用过视频目录", encodeEditValue(folder)},
        {"编辑框", "编辑框_视频间隔", "  30 "},
        {"单选框", "单选框_移动", "真"},
        {"单选框", "单选框_删除", "假"},
    });
    auto form = mainForm();
    loadSettings(*form, path);
    EXPECT_EQ(form->text("编辑框_标题前"), prefix);
    EXPECT_EQ(form->text("编辑框_使用过视频目录"), folder);
    EXPECT_EQ(form->text("编辑框_视频间隔"), "30"); // the profile functions drop the blanks
    EXPECT_TRUE(form->isChecked("单选框_移动"));
    EXPECT_FALSE(form->isChecked("单选框_删除"));
}

TEST(ProfileFunctions, WhatWeSaveTheProfileFunctionsReadBackWithForeignSectionsKept)
{
    testsupport::TempRunDir run;
    const QString path = settingsDataPath();
    runProbe("write", path, {
        {"外部工具", "Setting", "保留 我"},
        {"编辑框", "别人的键", "也保留"},
        {"编辑框", "编辑框_视频间隔", "99"},
    });
    auto form = mainForm();
    const QString title = QStringLiteral("行一\r\n\"行二\" \\ 反斜杠  ");
    form->setText("编辑框_标题后", title);
    form->setText("编辑框_视频间隔", "12");
    form->click("单选框_移动");
    ASSERT_TRUE(saveSettings(*form, path));

    const QList<QByteArray> back = runProbe("read", path, {
        {"编辑框", "编辑框_标题后"}, {"编辑框", "编辑框_视频间隔"}, {"单选框", "单选框_移动"},
        {"单选框", "单选框_删除"}, {"外部工具", "setting"}, {"编辑框", "别人的键"},
    });
    EXPECT_EQ(back[0], gbk::encode(encodeEditValue(title).trimmed()));
    EXPECT_EQ(back[1], QByteArray("12"));
    EXPECT_EQ(back[2], gbk::encode(u"真"));
    EXPECT_EQ(back[3], gbk::encode(u"假"));
    EXPECT_EQ(back[4], gbk::encode(u"保留 我"));
    EXPECT_EQ(back[5], gbk::encode(u"也保留"));
    // The escaped value holds no line break the profile functions would cut at.
    EXPECT_EQ(decodeEditValue(gbk::decode(back[0])), title.trimmed());
}
