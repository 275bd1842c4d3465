#include "studio/studio_description.h"
#include "studio/studio_source.h"
#include "tests/support/test_support.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using studio::Role;
using studio::StudioDescription;
using studio::StudioDescriptions;

QByteArray builtInWith(const QByteArray &from, const QByteArray &to)
{
    QByteArray json = StudioDescription::builtInJson();
    EXPECT_TRUE(json.contains(from)) << from.toStdString();
    return json.replace(from, to);
}

TEST(StudioDescription, TheBuiltInOneHoldsTheStudiosOwnValues)
{
    const StudioDescription &d = StudioDescription::builtIn();
    EXPECT_EQ(d.version(), 1);
    EXPECT_EQ(d.text(Role::UploadDoneText), QStringLiteral("上传成功"));
    EXPECT_EQ(d.path(Role::PublishLanding), QStringLiteral("/content?tab=video&investigation_param=cover_edited"));
    EXPECT_EQ(d.waitMs(Role::WaitAfterFile), 3000);
    ASSERT_EQ(d.selectors(Role::CoverInput).size(), 1);
    EXPECT_EQ(d.selectors(Role::CoverInput).first().css, QStringLiteral("input[type=file]"));
    EXPECT_EQ(d.selectors(Role::CoverInput).first().index, 2);
    // Every role the program knows is in it, none twice.
    for (const studio::RoleInfo &info : studio::allRoles())
        EXPECT_EQ(studio::roleNamed(QString::fromLatin1(info.name)), info.role) << info.name;
}

TEST(StudioDescription, AWrongDocumentIsRefusedAsAWholeNamingTheRole)
{
    const struct {
        QByteArray json;
        const char *why;
    } cases[] = {
        {"{\"schema\": ", "does not parse"},
        {builtInWith("tolvar-studio/1", "tolvar-studio/2"), "schema"},
        {builtInWith("\"version\": 1", "\"version\": 0"), "version"},
        {builtInWith("\"user_name\":", "\"side_banner\": {\"selectors\": [\"b\"]},\n    \"user_name\":"), "role \"side_banner\" is unknown"},
        {builtInWith("    \"cover_box\": {\"selectors\": [\".m-quorl-upload\"]},\n", ""), "role \"cover_box\": is missing"},
        {builtInWith("\"selectors\": [\".m-quorl-upload\"]", "\"selectors\": []"), "role \"cover_box\": needs \"selectors\""},
        {builtInWith("{\"selectors\": [\".m-quorl-upload\"]}", "{\"selectors\": [\".m-quorl-upload\"], \"script\": \"alert(1)\"}"), "role \"cover_box\": may not hold \"script\""},
        {builtInWith("\"/upload\"", "\"https://elsewhere.example/upload\""), "role \"upload_path\""},
        {builtInWith("\"/upload\"", "\"//elsewhere.example/upload\""), "role \"upload_path\""},
        {builtInWith("{\"ms\": 3000}", "{\"ms\": -1}"), "role \"wait_after_file\""},
        {builtInWith("{\"text\": \"上传成功\"}", "{\"text\": \"\"}"), "role \"upload_done_text\""},
    };
    for (const auto &c : cases) {
        QString why;
        EXPECT_FALSE(StudioDescription::parse(c.json, &why)) << c.why;
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.why))) << why.toStdString();
    }
    // Several selectors, each with an index of its own or the role's.
    QString why;
    const auto two = StudioDescription::parse(
        builtInWith("{\"selectors\": [\".m-quorl-upload\"]}", "{\"selectors\": [\".cover-picker\", {\"css\": \".m-quorl-upload\", \"index\": 3}], \"index\": 2}"), &why);
    ASSERT_TRUE(two) << why.toStdString();
    ASSERT_EQ(two->selectors(Role::CoverBox).size(), 2);
    EXPECT_EQ(two->selectors(Role::CoverBox).at(0).index, 2);
    EXPECT_EQ(two->selectors(Role::CoverBox).at(1).index, 3);
}

TEST(StudioDescriptions, TheUsersFileWinsOverADeliveredOneWhichWinsOverTheBuiltIn)
{
    testsupport::TempRunDir run;
    StudioDescriptions &d = StudioDescriptions::instance();
    d.resetForTests();
    d.reload();
    EXPECT_EQ(d.current()->origin(), QStringLiteral("built-in"));

    QString why;
    EXPECT_FALSE(d.offerDelivered(QStringLiteral("../studio-5.json"), builtInWith("\"version\": 1", "\"version\": 5"), &why));
    EXPECT_FALSE(d.offerDelivered(QStringLiteral("studio-5.json"), builtInWith("tolvar-studio/1", "other"), &why));
    EXPECT_FALSE(QFileInfo::exists(run.file("data/studio-5.json")));
    ASSERT_TRUE(d.offerDelivered(QStringLiteral("studio-5.json"), builtInWith("\"version\": 1", "\"version\": 5"), &why)) << why.toStdString();
    EXPECT_EQ(d.current()->version(), 5);
    // Not older than the one delivered before.
    EXPECT_FALSE(d.offerDelivered(QStringLiteral("studio-4.json"), builtInWith("\"version\": 1", "\"version\": 4"), &why));

    // A user's file that does not parse leaves the delivered one in use.
    ASSERT_TRUE(testsupport::writeAll(run.file("data/studio.json"), "{"));
    d.reload();
    EXPECT_EQ(d.current()->version(), 5);
    ASSERT_TRUE(testsupport::writeAll(run.file("data/studio.json"), builtInWith("\"version\": 1", "\"version\": 2")));
    d.reload();
    EXPECT_EQ(d.current()->origin(), QStringLiteral("studio.json"));

    // One whose selector the browser refuses goes for the next in order.
    const auto refuseFirst = [](const StudioDescription &s) -> std::optional<QString> {
        return s.origin() == QStringLiteral("studio.json") ? QStringLiteral("cover_box") : QString();
    };
    EXPECT_EQ(d.verified(refuseFirst)->origin(), QStringLiteral("studio-5.json"));
    d.resetForTests();
}

} // namespace
