#include "accounts/account_id.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct IdCase {
    const char16_t *id;
    bool safe;
};

void PrintTo(const IdCase &c, std::ostream *os)
{
    *os << '"' << QString::fromUtf16(c.id).toStdString() << (c.safe ? "\" safe" : "\" unsafe");
}

class AccountIdTest : public ::testing::TestWithParam<IdCase> {};

} // namespace

TEST_P(AccountIdTest, OnlyOnePlainFileNameComponentIsSafe)
{
    const QString id = QString::fromUtf16(GetParam().id);
    EXPECT_EQ(accountid::isSafe(id), GetParam().safe);
    EXPECT_EQ(accountid::whyUnsafe(id).isEmpty(), GetParam().safe);
    if (!GetParam().safe) {
        EXPECT_TRUE(accountid::whyUnsafe(id).startsWith(QStringLiteral("账号标识 ")));
    }
}

INSTANTIATE_TEST_SUITE_P(Ids, AccountIdTest, ::testing::Values(
    IdCase{u"100", true}, IdCase{u"账号甲", true}, IdCase{u"a b", true}, IdCase{u".hidden", true},
    IdCase{u"a.b", true}, IdCase{u"CONSOLE", true}, IdCase{u"COM0", true}, IdCase{u"LPT10", true}, IdCase{u"xCON", true},
    IdCase{u"", false}, IdCase{u".", false}, IdCase{u"..", false},
    IdCase{u"../x", false}, IdCase{u"..\\x", false}, IdCase{u"a/b", false}, IdCase{u"a\\b", false},
    IdCase{u"C:", false}, IdCase{u"a<b", false}, IdCase{u"a>b", false}, IdCase{u"a\"b", false},
    IdCase{u"a|b", false}, IdCase{u"a?b", false}, IdCase{u"a*b", false},
    IdCase{u"a\tb", false}, IdCase{u"a\nb", false}, IdCase{u"\x1f", false},
    IdCase{u"100.", false}, IdCase{u"100 ", false},
    IdCase{u"CON", false}, IdCase{u"con", false}, IdCase{u"Prn", false}, IdCase{u"AUX", false}, IdCase{u"nul", false},
    IdCase{u"COM1", false}, IdCase{u"com9", false}, IdCase{u"LPT1", false}, IdCase{u"lpt9", false},
    IdCase{u"CON.txt", false}, IdCase{u"nul.json", false}, IdCase{u"NUL .x", false}, IdCase{u"CONOUT$", false}));
