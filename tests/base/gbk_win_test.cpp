// Code page 936 exactly as Windows converts it, which is what the older
// program wrote: where it differs from the GBK of other systems, ours
// follows Windows.
#include "base/gbk.h"

#include <gtest/gtest.h>

TEST(CodePage936, TheEuroSignIsOneByteAndUnmappableTextBecomesQuestionMarks)
{
    ASSERT_TRUE(gbk::isAvailable());
    EXPECT_EQ(gbk::encode(u"€"), QByteArray("\x80"));
    EXPECT_EQ(gbk::decode("\x80"), QStringLiteral("€"));
    EXPECT_EQ(gbk::decode("100\x80 \xB1\xA3\xB4\xE6"), QStringLiteral("100€ 保存"));
    // Outside 936: never UTF-8 bytes in a GBK file.
    const QByteArray emoji = gbk::encode(QStringLiteral("a😀b"));
    EXPECT_TRUE(emoji.startsWith('a') && emoji.endsWith('b'));
    for (char c : emoji.mid(1, emoji.size() - 2))
        EXPECT_EQ(c, '?');
    EXPECT_EQ(gbk::encode(u"한"), QByteArray("?"));
}

TEST(CodePage936, EveryDoubleByteCharacterRoundTrips)
{
    int checked = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            QByteArray bytes;
            bytes.append(static_cast<char>(lead)).append(static_cast<char>(trail));
            const QString text = gbk::decode(bytes);
            if (text.size() != 1 || text.at(0) == QChar(0xFFFD) || text.at(0).unicode() < 0x80)
                continue;
            EXPECT_EQ(gbk::encode(text), bytes) << lead << " " << trail;
            ++checked;
        }
    }
    EXPECT_GT(checked, 21000); // GBK holds 21886 characters
}
