#include "sim_client.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using testsupport::SimProcess;

TEST(StudioSimProcess, ListensOnAPickedPortAndEndsCleanlyOnSigterm)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    EXPECT_GT(sim.port(), 0);
    EXPECT_NE(sim.port(), 8721);
    EXPECT_EQ(sim.request("GET", "/").status, 302);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(StudioSimProcess, RefusesUnknownKnobsAndBadValues)
{
    SimProcess unknown({"--no-such-knob"}, {}, studioSimBinary());
    EXPECT_FALSE(unknown.isRunning());
    SimProcess badNumber({"--stall-at", "abc"}, {}, studioSimBinary());
    EXPECT_FALSE(badNumber.isRunning());
}

TEST(StudioLogin, UploadRedirectsUntilLoggedInAndTheCookieIsPersistent)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning());

    const auto anonymous = sim.request("GET", "/upload");
    EXPECT_EQ(anonymous.status, 302);
    EXPECT_EQ(anonymous.header("Location"), "/login");
    EXPECT_EQ(sim.request("GET", "/content?tab=draft").status, 302);

    const auto form = sim.request("GET", "/login");
    EXPECT_EQ(form.status, 200);
    EXPECT_TRUE(form.body.contains("name=\"name\""));
    EXPECT_FALSE(form.body.contains("点击上传或将"));

    const auto login = sim.request("GET", "/login?name=" + QByteArray("小红 的号").toPercentEncoding());
    EXPECT_EQ(login.status, 302);
    EXPECT_EQ(login.header("Location"), "/upload");
    const QByteArray setCookie = login.header("Set-Cookie");
    EXPECT_TRUE(setCookie.startsWith("sim_session="));
    EXPECT_TRUE(setCookie.contains("Max-Age=31536000"));
    EXPECT_TRUE(setCookie.contains("Expires="));
    EXPECT_TRUE(setCookie.contains("Path=/"));

    const QByteArray cookie = setCookie.left(setCookie.indexOf(';'));
    const auto page = sim.request("GET", "/upload", {}, {{"Cookie", "other=1; " + cookie}});
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("<span class=\"user-info__username\">小红 的号</span>"));
    EXPECT_TRUE(page.body.contains("点击上传或将"));

    // The form posts too, and a name that is empty or has control characters is refused.
    const auto posted = sim.request("POST", "/login", "name=Bob",
                                    {{"Content-Type", "application/x-www-form-urlencoded"}});
    EXPECT_EQ(posted.status, 302);
    EXPECT_EQ(sim.request("GET", "/login?name=").status, 400);
    EXPECT_EQ(sim.request("GET", "/login?name=a%0Ab").status, 400);
    EXPECT_EQ(sim.request("GET", "/login?name=" + QByteArray(65, 'x')).status, 400);
}

TEST(StudioLogin, NamesAreEscapedInThePage)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("<b>&\"x"));
    const auto page = client.get("/upload");
    EXPECT_TRUE(page.body.contains("user-info__username\">&lt;b&gt;&amp;&quot;x</span>"));
}

TEST(StudioLogin, SessionsSurviveARestartAndEndByLogoutOrKnob)
{
    QTemporaryDir data;
    QByteArray cookie;
    {
        SimProcess first({}, data.path(), studioSimBinary());
        SimClient client(first);
        ASSERT_TRUE(client.login("Carol"));
        cookie = client.cookie();
    }
    SimProcess sim({}, data.path(), studioSimBinary());
    ASSERT_TRUE(sim.isRunning());
    auto withCookie = [&](const QByteArray &target) {
        return sim.request("GET", target, {}, {{"Cookie", cookie}});
    };
    EXPECT_EQ(withCookie("/upload").status, 200);

    ASSERT_TRUE(sim.setKnobs({{"logout-all", "true"}}));
    EXPECT_EQ(withCookie("/upload").status, 302);
    EXPECT_EQ(withCookie("/api/whoami").status, 401);
    ASSERT_TRUE(sim.setKnobs({{"logout-all", "false"}}));
    EXPECT_EQ(withCookie("/api/whoami").status, 200);

    EXPECT_EQ(sim.request("POST", "/__sim/logout?name=Carol").status, 200);
    EXPECT_EQ(withCookie("/upload").status, 302);
}

TEST(StudioSimKnobs, ControlEndpointReportsAndValidates)
{
    SimProcess sim({"--upload-kbps", "64", "--fail-quote"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    const QJsonObject knobs = jsonOf(sim.request("GET", "/__sim/knobs"));
    EXPECT_EQ(knobs.value("upload-kbps").toInt(), 64);
    EXPECT_TRUE(knobs.value("fail-quote").toBool());
    EXPECT_FALSE(knobs.value("fail-upload").toBool());
    EXPECT_EQ(knobs.value("stall-at").toInt(), -1);

    EXPECT_EQ(sim.request("POST", "/__sim/knobs?stall-at=101").status, 400);
    EXPECT_EQ(sim.request("POST", "/__sim/knobs?bogus=1").status, 400);
    ASSERT_TRUE(sim.setKnobs({{"update-version", "3.0.0"}, {"fail-quote", "0"}}));
    const QJsonObject after = jsonOf(sim.request("GET", "/__sim/knobs"));
    EXPECT_EQ(after.value("update-version").toString(), "3.0.0");
    EXPECT_FALSE(after.value("fail-quote").toBool());
}

TEST(StudioRedesign, UploadPageTakesTheNewNamesAndPutsTheCoverFirst)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("byte-Dora"));
    const QByteArray classic = client.get("/upload").body;
    ASSERT_TRUE(sim.setKnobs({{"redesign", "1"}}));
    const QByteArray page = client.get("/upload").body;

    const QList<QByteArray> oldNames = {"m-quorl-upload", "class=\"byte-", "'.byte-", "m-button", "cannot-click",
                                        "btn-l", "js-submit-", "video-form-item-wrapper", "class=\"percent\"",
                                        "'.status'", "点击上传或将", ">存草稿<", "sure.textContent = '上传中'"};
    for (const QByteArray &name : oldNames) {
        EXPECT_TRUE(classic.contains(name)) << name.toStdString();
        EXPECT_FALSE(page.contains(name)) << name.toStdString();
    }
    const QList<QByteArray> newNames = {
        "class=\"cover-picker\" id=\"cover-box\">选择封面<", "'cover-picker--done'", ".upload-meter__value {",
        "$('.upload-meter__state')", "拖拽视频到这里，或点击上传", "class=\"semi-radio-inner-text\">原创<",
        "class=\"semi-checkbox-mask\"", "class=\"ui-btn red topbar__publish\"", "class=\"ui-btn red confirm\"",
        "'.ui-btn-text'", "classList.contains('is-disabled')", "class=\"dialog-btn dialog-btn--ok disabled\"",
        "class=\"dialog-btn dialog-btn--cancel\"", "sure.textContent = '处理中'", "<div class=\"form-field\">",
        "'#publish-submit > button'", "<div id=\"publish-draft\" class=\"submit-item\"><button type=\"button\" class=\"ui-btn\">暂存草稿<",
        "\"cover-tabs__item\">本地上传<"};
    for (const QByteArray &name : newNames)
        EXPECT_TRUE(page.contains(name)) << name.toStdString();
    // Script words that look like class names are left alone, and so is the user's name.
    const QList<QByteArray> kept = {"res.status", "body !== undefined", "setStatus('上传中')",
                                    "user-info__username\">byte-Dora<"};
    for (const QByteArray &word : kept)
        EXPECT_TRUE(page.contains(word)) << word.toStdString();

    // The cover section heads <main>: its input is the document's first file input.
    const qsizetype main = page.indexOf("<main");
    const qsizetype coverLabel = page.indexOf("<div class=\"form-label\">封面</div>");
    EXPECT_LT(main, coverLabel);
    EXPECT_LT(coverLabel, page.indexOf("<section class=\"upload-card\">"));
    EXPECT_LT(page.indexOf("id=\"cover-input\""), page.indexOf("id=\"video-input\""));
    EXPECT_EQ(page.count("<div class=\"form-label\">封面</div>"), 1);

    // The content pages and their shared header stay as they were.
    EXPECT_TRUE(client.get("/content?tab=video").body.contains("class=\"m-button red topbar__publish\""));
}
