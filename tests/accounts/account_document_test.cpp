#include "accounts/account_document.h"
#include "base/gbk.h"
#include "tests/support/test_main.h"
#include "tests/support/test_support.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

TEST(AccountDocument, KeepsMembersOfOtherTypesWhenWrittenBack)
{
    testsupport::TempRunDir run;
    const QString path = run.file("a.json");
    testsupport::writeAll(path, R"({"昵称":"甲","次数":3,"标签":["a","b"],"嵌套":{"x":null}})");
    AccountDocument doc;
    ASSERT_TRUE(doc.loadFile(path));
    EXPECT_EQ(doc.value("昵称"), "甲");
    EXPECT_EQ(doc.value("次数"), QString()); // not text
    EXPECT_EQ(doc.value("缺少"), QString());
    doc.setValue("素材目录", "D:\\视频\\");
    ASSERT_TRUE(doc.saveFile(path));
    AccountDocument again;
    ASSERT_TRUE(again.loadFile(path));
    EXPECT_EQ(again.toJson(), QStringLiteral(R"({"昵称":"甲","次数":3,"标签":["a","b"],"嵌套":{"x":null},"素材目录":"D:\\视频\\"})"));
    EXPECT_TRUE(gbk::isValidUtf8(testsupport::readAll(path)));
}

TEST(AccountDocument, ReadsGbkAndRejectsJunkQuietly)
{
    testsupport::TempRunDir run;
    AccountDocument doc;
    const QString gbkFile = run.file("gbk.json");
    testsupport::writeAll(gbkFile, gbk::encode(u"{\"昵称\":\"乙号\",\"缓存id\":\"101\"}"));
    ASSERT_TRUE(doc.loadFile(gbkFile));
    EXPECT_EQ(doc.value("昵称"), "乙号");

    const QList<QByteArray> junk = {
        "", "{", "[1,2]", "\"text\"", "{\"a\":}", QByteArray(5000, '['), QByteArray("\x00\x01\xFF{}", 5),
    };
    for (const QByteArray &bytes : junk) {
        testsupport::writeAll(run.file("junk.json"), bytes);
        EXPECT_FALSE(doc.loadFile(run.file("junk.json")));
        EXPECT_EQ(doc.toJson(), "{}");
    }
    QByteArray random(1 << 16, '\0');
    for (char &c : random)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    testsupport::writeAll(run.file("junk.json"), random);
    EXPECT_FALSE(doc.loadFile(run.file("junk.json")));
    testsupport::LogCapture log;
    testsupport::writeAll(run.file("junk.json"), "{\"a\":}");
    EXPECT_FALSE(doc.loadFile(run.file("junk.json")));
    EXPECT_FALSE(doc.loadFile(run.file("missing.json")));
    // Each failure keeps its reason: the parser's words and place, the missing file.
    EXPECT_EQ(log.linesWith({"tolvar.accounts", "junk.json", "is no JSON", "at byte 5"}).size(), 1) << log.lines().join('\n').toStdString();
    EXPECT_EQ(log.linesWith({"tolvar.accounts", "cannot read the account file", "missing.json"}).size(), 1);
}
