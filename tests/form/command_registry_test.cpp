#include "form/command_registry.h"
#include "form/form.h"
#include "form/window_layout.h"
#include "tests/support/test_main.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

TEST(CommandRegistry, ClicksRunTheirCommandOnTheRegistrysThread)
{
    Form form;
    declareControls(form, mainWindowLayout());
    CommandRegistry registry(form);
    QList<Qt::HANDLE> ranOn;
    ASSERT_TRUE(registry.addCommand("按钮3", [&] { ranOn.append(QThread::currentThreadId()); }));

    form.click("按钮3");
    ASSERT_EQ(ranOn.size(), 1);
    EXPECT_EQ(ranOn[0], QThread::currentThreadId());

    // A click from a worker (the hot key, --start) waits for this thread's event loop.
    QThread *worker = QThread::create([&form] { form.click("按钮3"); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(ranOn.size(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ranOn.size() == 2; }, 2000));
    EXPECT_EQ(ranOn.value(1), QThread::currentThreadId());

    // A later command replaces the earlier; a click without one does nothing.
    int second = 0;
    registry.addCommand("按钮3", [&] { ++second; });
    form.click("按钮3");
    form.click("按钮1");
    EXPECT_EQ(second, 1);
    EXPECT_EQ(ranOn.size(), 2);
}

TEST(CommandRegistry, RefusesAControlTheWindowDoesNotHave)
{
    Form form;
    declareControls(form, startWindowLayout());
    CommandRegistry registry(form);
    testsupport::ExpectUnknownControls unknown;
    // A main-window button on the start window's form: a slip worth hearing of.
    EXPECT_FALSE(registry.addCommand("按钮3", [] {}));
    EXPECT_FALSE(registry.hasCommand("按钮3"));
    EXPECT_EQ(unknown.count(), 1);
    EXPECT_TRUE(registry.addCommand("超级按钮_打开", [] {}));
    EXPECT_EQ(unknown.count(), 1);
}
