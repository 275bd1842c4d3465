#include "form/form.h"
#include "form/window_layout.h"
#include "tests/support/test_main.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

TEST(Form, RadioGroupsExcludeEachOtherAndClicksChangeStateFirst)
{
    Form form;
    declareControls(form, mainWindowLayout());
    EXPECT_TRUE(form.isChecked("单选框_系统封面_随机"));
    form.click("单选框_本地封面");
    EXPECT_TRUE(form.isChecked("单选框_本地封面"));
    EXPECT_FALSE(form.isChecked("单选框_系统封面_随机"));
    EXPECT_FALSE(form.isChecked("单选框_本地随机封面"));
    // Other groups are untouched.
    EXPECT_TRUE(form.isChecked("单选框_删除"));
    // A radio can be cleared, leaving its group with none selected.
    form.setChecked("单选框_原创", true);
    form.setChecked("单选框_原创", false);
    EXPECT_FALSE(form.isChecked("单选框_原创"));
    EXPECT_FALSE(form.isChecked("单选框_转载"));

    const bool before = form.isChecked("选择框_保存草稿");
    form.click("选择框_保存草稿");
    EXPECT_NE(form.isChecked("选择框_保存草稿"), before);
}

TEST(Form, KindsKeepWindowOrderAndUnknownNamesAreHarmless)
{
    Form form;
    declareControls(form, mainWindowLayout());
    const QStringList edits = form.names(ControlKind::Edit);
    EXPECT_EQ(edits.size(), 20);
    EXPECT_TRUE(edits.contains("编辑框_同时账号数"));
    EXPECT_LT(edits.indexOf("编辑框_视频素材目录"), edits.indexOf("编辑框_google"));
    EXPECT_EQ(form.names(ControlKind::Combo), (QStringList{"组合框_一级分类", "组合框_二级分类"}));
    {
        testsupport::ExpectUnknownControls unknown;
        QSignalSpy changed(&form, &Form::changed);
        QSignalSpy clicked(&form, &Form::clicked);
        form.setText("不存在", "x");
        form.click("不存在");
        form.setTag("不存在", "t");
        EXPECT_EQ(form.text("不存在"), QString());
        EXPECT_EQ(unknown.count(), 4); // each use of the name is reported
        EXPECT_FALSE(form.has("不存在")); // asking is not a use
        EXPECT_EQ(unknown.count(), 4);
        EXPECT_EQ(changed.count(), 0);
        EXPECT_EQ(clicked.count(), 0);
        EXPECT_EQ(form.names().size(), mainWindowLayout().size());
    }
    EXPECT_EQ(form.partCount("状态条1"), 4);
    form.setPartText("状态条1", 7, "out of range");
    EXPECT_EQ(form.partText("状态条1", 1), QString());
}

TEST(Form, ChangesFromAWorkerThreadAreSignalledOnce)
{
    Form form;
    form.addControl("编辑框_账号序列", ControlKind::Edit, "1");
    QSignalSpy spy(&form, &Form::changed);
    QThread *worker = QThread::create([&form] {
        for (int i = 0; i < 1000; ++i)
            form.setText("编辑框_账号序列", QString::number(i));
        form.setText("编辑框_账号序列", "999"); // unchanged: no signal
    });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(form.text("编辑框_账号序列"), "999");
    EXPECT_EQ(spy.count(), 1000);
}
