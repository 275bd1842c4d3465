#include "net/header_text.h"

#include <gtest/gtest.h>

using namespace net;

TEST(HeaderText, NameAndValueAreTrimmedAroundTheFirstColon)
{
    EXPECT_EQ(headerName(u"  Host : a:b "), QStringLiteral("Host"));
    EXPECT_EQ(headerValue(u"  Host : a:b "), QStringLiteral("a:b"));
    EXPECT_EQ(headerName(u"no colon"), QString());
    EXPECT_EQ(headerValue(u"no colon"), QString());
}

TEST(HeaderText, CookieNameIsTextBeforeEquals)
{
    EXPECT_EQ(cookieName(u" sid = 1=2"), QStringLiteral("sid"));
    EXPECT_EQ(cookieName(u" flag "), QStringLiteral("flag"));
}

TEST(HeaderText, RemoveDuplicateItemsKeepsFirstOccurrences)
{
    EXPECT_EQ(removeDuplicateItems(QStringLiteral("a; b; a; A; b"), QStringLiteral("; ")), QStringLiteral("a; b; A"));
    EXPECT_EQ(removeDuplicateItems(QString(), QStringLiteral("; ")), QString());
}

TEST(HeaderText, Base64IsStandardWithPadding)
{
    EXPECT_EQ(base64Encode("user:pass"), QStringLiteral("dXNlcjpwYXNz"));
    EXPECT_EQ(base64Encode("\xfb\xff"), QStringLiteral("+/8="));
    EXPECT_EQ(base64Encode(""), QString());
}

TEST(HeaderText, NormalizeCapitalisesEachNamePartOnly)
{
    EXPECT_EQ(normalizeHeaderNames(QStringLiteral("content-type: text/html\r\nX-REQUESTED-with: x\r\naccept: a-b")),
              QStringLiteral("Content-Type: text/html\r\nX-REQUESTED-With: x\r\nAccept: a-b"));
}

TEST(HeaderText, NormalizeDropsLinesWithoutColonAndTheTrailingBreak)
{
    EXPECT_EQ(normalizeHeaderNames(QStringLiteral("\r\nuser-agent: u\r\ngarbage\r\n")), QStringLiteral("User-Agent: u"));
    EXPECT_EQ(normalizeHeaderNames(QString()), QString());
}

TEST(HeaderText, HeaderValueOfMatchesTheFirstLineBeginningWithTheName)
{
    const QString h = QStringLiteral("Accept: */*\r\nConnection: keep-alive\r\nconnection: close");
    EXPECT_EQ(headerValueOf(h, QStringLiteral("Connection")), QStringLiteral("keep-alive"));
    EXPECT_EQ(headerValueOf(h, QStringLiteral("Referer")), QString());
}

TEST(HeaderText, MergeDropsDeletedCookies)
{
    QString sent = QStringLiteral("a=1; b=2");
    EXPECT_EQ(mergeCookies(sent, QStringLiteral("b=3; a=deleted")), QStringLiteral("b=3"));
    EXPECT_EQ(sent, QStringLiteral("b=3"));
}

TEST(HeaderText, MergePutsNewCookiesFirst)
{
    QString sent = QStringLiteral("a=1");
    EXPECT_EQ(mergeCookies(sent, QStringLiteral("c=5")), QStringLiteral("c=5; a=1"));
}

TEST(HeaderText, MergeToleratesTrailingSemicolonsAndEmptyTexts)
{
    QString sent = QStringLiteral(" a=1; ");
    EXPECT_EQ(mergeCookies(sent, QStringLiteral("b=2;")), QStringLiteral("b=2; a=1"));
    QString none;
    EXPECT_EQ(mergeCookies(none, QString()), QString());
    QString only = QStringLiteral("a=1");
    EXPECT_EQ(mergeCookies(only, QString()), QStringLiteral("a=1"));
}

TEST(HeaderText, SetCookieItemsOfBothKinds)
{
    const QString headers = QStringLiteral("Content-Type: text/html\r\nSet-Cookie: c=5; path=/\r\nSet-Cookie: d=6\r\n"
                                           "set-cookie: e=7; path=/\r\nSet-Cookie:f=8; x\r\n");
    EXPECT_EQ(setCookieItems(headers, SetCookieLines::All), QStringLiteral("c=5; d=6"));
    EXPECT_EQ(setCookieItems(headers, SetCookieLines::WithAttributesOnly), QStringLiteral("c=5"));
}
