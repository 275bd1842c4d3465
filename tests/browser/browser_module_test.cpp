#include "base/gbk.h"
#include "browser/browser_module.h"
#include "tests/support/test_support.h"

#include <QFileInfo>

#include <gtest/gtest.h>

TEST(FormatDateTime, ReplacesOnlyTheSixTokens)
{
    const QDateTime when(QDate(987, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(browsermodule::formatDateTime(when, {}), QStringLiteral("0987-03-04 05:06:07"));
    EXPECT_EQ(browsermodule::formatDateTime(when, QStringLiteral("M d H m s|MM mm|yyyyy")), QStringLiteral("M d H m s|03 06|0987y"));
    EXPECT_EQ(browsermodule::formatDateTime(when, QStringLiteral("HHmmss")), QStringLiteral("050607"));
}

TEST(ErrorLog, CreatesFolderAndAppendsWithoutSeparators)
{
    testsupport::TempRunDir run;
    const QByteArray first = browsermodule::administratorNote(42, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
    EXPECT_EQ(gbk::decode(first), QStringLiteral("  进程ID：42\r\n运行时间：2024-01-02 03:04:05\r\n"
                                                 "程序未以管理员权限运行，可能会导致部分功能失效，请留意."));
    browsermodule::appendErrorLog(first);
    browsermodule::appendErrorLog("second");
    EXPECT_TRUE(QFileInfo(run.file("logs")).isDir());
    EXPECT_EQ(testsupport::readAll(run.file("logs/error.log")), first + "second");
}
