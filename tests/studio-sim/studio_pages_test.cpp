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
