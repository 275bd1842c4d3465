#include "base/gbk.h"
#include "base/run_directory.h"

#include <gtest/gtest.h>

TEST(Gbk, RoundTripAndKnownBytes)
{
    const QString text = QStringLiteral("保存成功 abc");
    const QByteArray bytes = gbk::encode(text);
    EXPECT_EQ(bytes, QByteArray("\xB1\xA3\xB4\xE6\xB3\xC9\xB9\xA6 abc"));
    EXPECT_EQ(gbk::decode(bytes), text);
}

TEST(Gbk, Utf8OrGbkDetection)
{
    const QString text = QStringLiteral("素材目录");
    EXPECT_EQ(gbk::decodeUtf8OrGbk(text.toUtf8()), text);
    EXPECT_EQ(gbk::decodeUtf8OrGbk(gbk::encode(text)), text);
    EXPECT_EQ(gbk::decodeUtf8OrGbk(QByteArray("\xEF\xBB\xBF") + text.toUtf8()), text);
    EXPECT_TRUE(gbk::isValidUtf8("plain ascii"));
    EXPECT_FALSE(gbk::isValidUtf8("\xC0\x80"));      // overlong
    EXPECT_FALSE(gbk::isValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(gbk::isValidUtf8("\xE4\xB8"));      // cut short
}

TEST(NativePath, JoinsWithTheSystemSeparator)
{
    const QString joined = joinNativePath(u"/tmp/run", u"data\\list/100.json");
#ifdef Q_OS_WIN
    EXPECT_EQ(joined, QStringLiteral("\\tmp\\run\\data\\list\\100.json"));
#else
    EXPECT_EQ(joined, QStringLiteral("/tmp/run/data/list/100.json"));
#endif
}
