#include "sim_client.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

using testsupport::SimProcess;

namespace {

// The DOM after the page's script ran, as headless Chromium sees it.
QString dumpDom(const QString &profile, const QString &url)
{
    QProcess chromium;
    chromium.start(QStringLiteral("/usr/bin/chromium"),
                   {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + profile, "--dump-dom", url});
    if (!chromium.waitForFinished(90000)) {
        chromium.kill();
        chromium.waitForFinished();
        return {};
    }
    return QString::fromUtf8(chromium.readAllStandardOutput());
}

// The markup outside <script> elements, so selectors named in the script do not count.
QString markupOnly(QString dom)
{
    static const QRegularExpression scripts(QStringLiteral("<script[^>]*>.*?</script>"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return dom.remove(scripts);
}

} // namespace

TEST(StudioBrowserSmoke, LoggedInProfileSeesTheUploadPageAfterARestart)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/chromium")))
        GTEST_SKIP() << "chromium is not installed";
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning());
    QTemporaryDir profile;

    // The first browser logs in; the second, on the same profile, opens /upload directly.
    const QString first = dumpDom(profile.path(), sim.url("/login?name=Smoke"));
    ASSERT_TRUE(first.contains(QStringLiteral("user-info__username\">Smoke<"))) << first.left(300).toStdString();
    const QString page = markupOnly(dumpDom(profile.path(), sim.url("/upload")));
    ASSERT_TRUE(page.contains(QStringLiteral("<span class=\"user-info__username\">Smoke</span>")))
        << page.left(300).toStdString();

    EXPECT_TRUE(page.contains(QStringLiteral("点击上传或将")));
    const qsizetype video = page.indexOf(QStringLiteral("id=\"video-input\""));
    const qsizetype cover = page.indexOf(QStringLiteral("id=\"cover-input\""));
    EXPECT_EQ(page.count(QStringLiteral("type=\"file\"")), 2);
    EXPECT_TRUE(video > 0 && cover > video);
    EXPECT_TRUE(page.contains(QStringLiteral("class=\"percent\"")));
    EXPECT_TRUE(page.contains(QStringLiteral("class=\"status\"")));
    EXPECT_TRUE(page.contains(QStringLiteral("class=\"m-quorl-upload\" id=\"cover-box\">上传封面</div>")));
    EXPECT_TRUE(page.contains(QStringLiteral(
        "<div class=\"video-form-item-wrapper\">\n        <div class=\"video-form-item\">\n          <div class=\"video-form-item__control\">\n            <div class=\"byte-input-wrapper\">\n              <input class=\"byte-input\"")));
    EXPECT_EQ(page.count(QStringLiteral("<span class=\"byte-radio-inner-text\">")), 2);
    EXPECT_TRUE(page.contains(QStringLiteral("<div id=\"js-submit-0\" class=\"submit-item\"><button")));
    EXPECT_TRUE(page.contains(QStringLiteral("<div id=\"js-submit-draft-0\" class=\"submit-item\"><button")));
    // Built by the script: only the share box until "原创" is chosen (no watermark box for reposts).
    EXPECT_EQ(page.count(QStringLiteral("<span class=\"byte-checkbox-mask\"></span>")), 1);
    EXPECT_TRUE(page.contains(QStringLiteral("同步发布到合作平台")));
    // No dialog is open before the user asks for one.
    EXPECT_FALSE(page.contains(QStringLiteral("class=\"modal-mask")));
}
