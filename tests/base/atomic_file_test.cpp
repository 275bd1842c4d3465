#include "base/atomic_file.h"
#include "tests/support/test_main.h"
#include "tests/support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

TEST(AtomicFile, ReplacesWholeContentAndFailsInMissingFolder)
{
    testsupport::TempRunDir run;
    const QString path = run.file("a.txt");
    ASSERT_TRUE(writeFileAtomic(path, "first version, longer"));
    ASSERT_TRUE(writeFileAtomic(path, "second"));
    EXPECT_EQ(testsupport::readAll(path), QByteArray("second"));
    testsupport::LogCapture log;
    EXPECT_FALSE(writeFileAtomic(run.file("missing/a.txt"), "x"));
    EXPECT_EQ(QDir(run.path()).entryList(QDir::Files), QStringList{"a.txt"});
    // The reason is kept: the path and the file system's own words.
    EXPECT_EQ(log.linesWith({"tolvar.base", "cannot write", "missing"}).size(), 1) << log.lines().join('\n').toStdString();
}
