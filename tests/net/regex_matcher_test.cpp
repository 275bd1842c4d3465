#include "net/regex_matcher.h"

#include <gtest/gtest.h>

using net::RegexMatcher;

namespace {
const QString kCharsetPattern = QStringLiteral("<meta.+?charset=[^\\w]?([-\\w]+)");
}

TEST(RegexMatcher, FindsTheDeclaredCharset)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(kCharsetPattern, QStringLiteral("<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=\"utf-8\"></head>")));
    EXPECT_EQ(m.submatchValue(1, 1), QStringLiteral("utf-8"));
}

TEST(RegexMatcher, IgnoresCaseByDefault)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(kCharsetPattern, QStringLiteral("<META CONTENT=\"text/html; CHARSET=GBK\">")));
    EXPECT_EQ(m.submatchValue(1, 1), QStringLiteral("GBK"));
    ASSERT_TRUE(m.execute(kCharsetPattern, QStringLiteral("<META CHARSET=GBK>"), true));
    EXPECT_EQ(m.matchCount(), 0);
}

TEST(RegexMatcher, NoMatchGivesEmptyResults)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(kCharsetPattern, QStringLiteral("<p>plain</p>")));
    EXPECT_EQ(m.matchCount(), 0);
    EXPECT_EQ(m.submatchValue(1, 1), QString());
    EXPECT_EQ(m.matchValue(1), QString());
    EXPECT_EQ(m.submatchCount(1), 0);
}

TEST(RegexMatcher, QuoteMarkerStandsForADoubleQuote)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("charset=#引号(\\w+)"), QStringLiteral("<meta charset=\"gbk\">"), false, true, true, true));
    EXPECT_EQ(m.submatchValue(1, 1), QStringLiteral("gbk"));
    EXPECT_EQ(m.pattern(), QStringLiteral("charset=\"(\\w+)"));
}

TEST(RegexMatcher, NumbersMatchesAndGroupsFromOne)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("(\\w)=(\\d)"), QStringLiteral("a=1 b=2 c=3")));
    EXPECT_EQ(m.matchCount(), 3);
    EXPECT_EQ(m.matchValue(2), QStringLiteral("b=2"));
    EXPECT_EQ(m.submatchValue(3, 2), QStringLiteral("3"));
    EXPECT_EQ(m.submatchCount(1), 2);
    EXPECT_EQ(m.matchValue(0), QString());
    EXPECT_EQ(m.matchValue(4), QString());
    EXPECT_EQ(m.submatchValue(1, 3), QString());
    int position = 0;
    EXPECT_EQ(m.submatchValue(2, 2, &position), QStringLiteral("2"));
    EXPECT_EQ(position, 6);
    EXPECT_EQ(m.matchValue(3, &position), QStringLiteral("c=3"));
    EXPECT_EQ(position, 8);
}

TEST(RegexMatcher, GlobalOffFindsOnlyTheFirst)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("\\d"), QStringLiteral("1 2 3"), false, true, false));
    EXPECT_EQ(m.matchCount(), 1);
    EXPECT_EQ(m.replace(QStringLiteral("#")), QStringLiteral("# 2 3"));
}

TEST(RegexMatcher, MultilineAnchorsAtLineBreaksAndDotStopsThere)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("^b.*"), QStringLiteral("a1\nb2\nb3")));
    EXPECT_EQ(m.matchCount(), 2);
    EXPECT_EQ(m.matchValue(1), QStringLiteral("b2"));
    ASSERT_TRUE(m.execute(QStringLiteral("^b"), QStringLiteral("a1\nb2"), false, false));
    EXPECT_EQ(m.matchCount(), 0);
}

TEST(RegexMatcher, MultilineLinesEndAtCrLfAndAtALoneCr)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("^(\\w+)$"), QStringLiteral("a1\r\nb2\r\nc3\rd4")));
    ASSERT_EQ(m.matchCount(), 4);
    EXPECT_EQ(m.matchValue(1), QStringLiteral("a1"));
    EXPECT_EQ(m.matchValue(2), QStringLiteral("b2"));
    EXPECT_EQ(m.submatchValue(4, 1), QStringLiteral("d4"));
    ASSERT_TRUE(m.execute(QStringLiteral("^b.*"), QStringLiteral("a1\r\nb2\r\n")));
    EXPECT_EQ(m.matchValue(1), QStringLiteral("b2"));
    EXPECT_EQ(m.pattern(), QStringLiteral("^b.*"));
}

TEST(RegexMatcher, ReplaceUsesDollarReferences)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("(\\w+)@(\\w+)"), QStringLiteral("x a@b y c@d")));
    EXPECT_EQ(m.replace(QStringLiteral("$2 at $1 ($&) $$ $9")), QStringLiteral("x b at a (a@b) $ $9 y d at c (c@d) $ $9"));
}

TEST(RegexMatcher, InvalidPatternIsFalseWithoutMatches)
{
    RegexMatcher m;
    EXPECT_EQ(m.pattern(), QString());
    EXPECT_FALSE(m.execute(QStringLiteral("(unclosed"), QStringLiteral("unclosed")));
    EXPECT_EQ(m.matchCount(), 0);
    EXPECT_EQ(m.submatchValue(1, 1), QString());
    EXPECT_EQ(m.pattern(), QStringLiteral("(unclosed"));
}

TEST(RegexMatcher, CopiesKeepTheResults)
{
    RegexMatcher m;
    ASSERT_TRUE(m.execute(QStringLiteral("\\d+"), QStringLiteral("10 20")));
    const RegexMatcher copy = m;
    EXPECT_EQ(copy.matchValue(2), QStringLiteral("20"));
}
