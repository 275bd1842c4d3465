#include "form/form.h"
#include "app/main_commands.h"
#include "app/settings_file.h"
#include "form/window_layout.h"
#include "base/message_box.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

class RecordingPresenter final : public messagebox::Presenter {
public:
    messagebox::Answer show(const QString &title, const QString &text, messagebox::Buttons) override
    {
        shown.append(title + "|" + text);
        return messagebox::Answer::Ok;
    }
    QStringList shown;
};

class MainCommandsTest : public ::testing::Test {
protected:
    MainCommandsTest()
    {
        messagebox::setPresenter(&presenter);
        commands.setExitProcess([this] { ++exits; });
        commands.setUnregisterHotKey([this] { ++unregistered; });
        commands.setHideWindow([this] { ++hidden; });
    }
    ~MainCommandsTest() override { messagebox::setPresenter(nullptr); }

    testsupport::TempRunDir run;
    RecordingPresenter presenter;
    Form form;
    // Commands are registered for controls the form has.
    const bool declared = (declareControls(form, mainWindowLayout()), true);
    MainCommands commands{form};
    int exits = 0;
    int unregistered = 0;
    int hidden = 0;
};

} // namespace

TEST_F(MainCommandsTest, SaveButtonWritesSettingsThenSaysSo)
{
    form.setText("编辑框_视频间隔", "33");
    form.click("按钮_保存账号");
    ASSERT_EQ(presenter.shown, QStringList{messagebox::applicationTitle() + "|保存成功"});
    Form reloaded;
    declareControls(reloaded, mainWindowLayout());
    settings::loadSettings(reloaded);
    EXPECT_EQ(reloaded.text("编辑框_视频间隔"), "33");
}

TEST_F(MainCommandsTest, RecommendedSettings)
{
    form.setChecked("选择框_自动循环", false);
    form.setChecked("选择框_自动放弃", false);
    form.setText("放弃秒", "900");
    form.click("按钮3");
    EXPECT_TRUE(form.isChecked("选择框_自动循环"));
    EXPECT_TRUE(form.isChecked("选择框_自动放弃"));
    EXPECT_EQ(form.text("放弃秒"), "300");
    EXPECT_EQ(form.text("编辑框_视频间隔"), "20");
    EXPECT_EQ(form.text("按钮3"), "已设置为作者推荐");
    EXPECT_FALSE(QFile::exists(run.file("data/setsoft.ini"))); // not saved by itself
}

TEST_F(MainCommandsTest, MoveRadioFillsAndCreatesTheUsedFolderOnlyWhenEmpty)
{
    form.click("单选框_移动");
    const QString used = run.file("已使用视频");
    EXPECT_EQ(form.text("编辑框_使用过视频目录"), used);
    EXPECT_TRUE(QDir(used).exists());
    EXPECT_FALSE(form.isChecked("单选框_删除"));

    form.setText("编辑框_使用过视频目录", "/elsewhere");
    form.click("单选框_移动");
    EXPECT_EQ(form.text("编辑框_使用过视频目录"), "/elsewhere");
}

TEST_F(MainCommandsTest, MaterialFolderHint)
{
    EXPECT_EQ(form.text("标签14"), QString());
    form.setText("编辑框_视频素材目录", "/videos");
    EXPECT_EQ(form.text("标签14"), "修改素材目录后，一定点击【修改账号信息】让设置生效");
}

TEST_F(MainCommandsTest, CloseCommandHidesUnregistersSavesAndEnds)
{
    form.setText("编辑框_账号序列", "5");
    form.click("按钮26");
    EXPECT_EQ(hidden, 1);
    EXPECT_EQ(unregistered, 1);
    EXPECT_EQ(exits, 1);
    Form reloaded;
    declareControls(reloaded, mainWindowLayout());
    settings::loadSettings(reloaded);
    EXPECT_EQ(reloaded.text("编辑框_账号序列"), "5");
}
