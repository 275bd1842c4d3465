#include "sim_client.h"

#include "base/gbk.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

using testsupport::SimProcess;

namespace {

QByteArray signFor(const QByteArray &t)
{
    const QByteArray salt = "plovrenut48217x@@##590";
    return QCryptographicHash::hash(salt + t, QCryptographicHash::Md5).toHex() + "@" + t;
}

QByteArray percentGbk(const QString &text)
{
    return gbk::encode(text).toPercentEncoding();
}

} // namespace

TEST(UpdateServers, ProbeTextsAndOutagesPerServer)
{
    SimProcess sim({"--update-probe-bad", "1", "--update-down", "3"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning());
    EXPECT_EQ(sim.request("GET", "/u1/test.txt").body, "ok ");
    EXPECT_EQ(sim.request("GET", "/u2/test.txt").body, "ok");
    EXPECT_EQ(sim.request("GET", "/u3/test.txt").status, 503);
    EXPECT_EQ(sim.request("GET", "/u3/up_quorl/index.json").status, 503);
    EXPECT_EQ(sim.request("GET", "/u4/test.txt").status, 404);
}

TEST(UpdateServers, IndexOffersADownloadThatHonoursRanges)
{
    SimProcess sim({"--update-version", "2.9", "--update-file-size", "1000", "--update-file-name", "新版.exe"}, {},
                   studioSimBinary());
    const QJsonObject index = jsonOf(sim.request("GET", "/u2/up_quorl/index.json"));
    EXPECT_EQ(index.value("版本").toString(), "2.9");
    EXPECT_FALSE(index.value("更新说明").toString().isEmpty());
    EXPECT_EQ(index.value("文件名").toString(), "新版.exe");
    const QString address = index.value("下载地址").toString();
    ASSERT_TRUE(address.startsWith(sim.origin() + "/u2/")) << address.toStdString();

    const QByteArray path = address.mid(sim.origin().size()).toUtf8();
    const auto whole = sim.request("GET", path);
    ASSERT_EQ(whole.status, 200);
    ASSERT_EQ(whole.body.size(), 1000);
    EXPECT_EQ(static_cast<unsigned char>(whole.body[500]), (500 * 7 + 3) % 251);

    const auto part = sim.request("GET", path, {}, {{"Range", "bytes=500-599"}});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.header("Content-Range"), "bytes 500-599/1000");
    EXPECT_EQ(part.body, whole.body.mid(500, 100));
    EXPECT_EQ(sim.request("HEAD", path).header("Content-Length"), "1000");

    ASSERT_TRUE(sim.setKnobs({{"fail-download", "1"}, {"broken-index", "1"}}));
    EXPECT_EQ(sim.request("GET", path).status, 500);
    const auto broken = sim.request("GET", "/u1/up_quorl/index.json");
    EXPECT_EQ(broken.status, 200);
    EXPECT_TRUE(jsonOf(broken).isEmpty());
    ASSERT_TRUE(sim.setKnobs({{"fail-index", "1"}}));
    EXPECT_EQ(sim.request("GET", "/u1/up_quorl/index.json").status, 500);
}

TEST(UpdateServers, AnnouncementPicturesAndQuote)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    const QJsonObject notice = jsonOf(sim.request("GET", "/u1/gonggao.json"));
    EXPECT_FALSE(notice.value("all").toString().isEmpty());
    EXPECT_FALSE(notice.value("ad1url").toString().isEmpty());
    for (const char *n : {"1", "17"}) {
        const auto gif = sim.request("GET", QByteArray("/u1/tool/ad") + n + ".gif");
        EXPECT_EQ(gif.status, 200);
        EXPECT_TRUE(gif.body.startsWith("GIF89a"));
    }
    EXPECT_EQ(sim.request("GET", "/u1/tool/ad0.gif").status, 404);
    EXPECT_EQ(sim.request("GET", "/u1/tool/ad18.gif").status, 404);
    EXPECT_EQ(sim.request("GET", "/u1/tool/adx.gif").status, 404);

    const auto quote = sim.request("GET", "/quote/?encode=text");
    EXPECT_EQ(quote.status, 200);
    EXPECT_TRUE(QString::fromUtf8(quote.body).contains(QStringLiteral("行则将至")));

    ASSERT_TRUE(sim.setKnobs({{"fail-quote", "1"}, {"fail-announcement", "1"}, {"fail-ad", "1"}}));
    EXPECT_EQ(sim.request("GET", "/quote/?encode=text").status, 500);
    EXPECT_EQ(sim.request("GET", "/u1/gonggao.json").status, 500);
    EXPECT_EQ(sim.request("GET", "/u1/tool/ad3.gif").status, 500);
}

TEST(Notification, SignedReportsAreRecordedAndOthersRefused)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    const QByteArray t = QByteArray::number(QDateTime::currentSecsSinceEpoch()).left(10);
    const QByteArray target = "/tongzhi?mubiao=dev@example.invalid&title=" + percentGbk(QStringLiteral("电脑发现bug"))
        + "&body=" + percentGbk(QStringLiteral("所属软件：tolvar\r\n   错误信息：x y")).replace("%20", "+") + "&sa=1";

    EXPECT_EQ(sim.request("GET", target).status, 403);
    QByteArray altered = signFor(t);
    altered[0] = altered[0] == '0' ? '1' : '0';
    EXPECT_EQ(sim.request("GET", target, {}, {{"Sign", altered}}).status, 403);
    EXPECT_EQ(sim.request("GET", target, {}, {{"Sign", signFor("12345")}}).status, 403);
    EXPECT_TRUE(sim.notifications().isEmpty());

    // Two reports in the same second carry the same header; both are taken.
    const auto first = sim.request("GET", target, {}, {{"Sign", signFor(t)}});
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(sim.request("GET", target, {}, {{"sign", signFor(t)}}).status, 200);

    const auto lines = sim.notifications();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].value("title").toString(), QStringLiteral("电脑发现bug"));
    EXPECT_EQ(lines[0].value("body").toString(), QStringLiteral("所属软件：tolvar\r\n   错误信息：x y"));
    EXPECT_EQ(lines[0].value("mubiao").toString(), "dev@example.invalid");
    EXPECT_EQ(lines[0].value("sa").toString(), "1");
    EXPECT_EQ(lines[0].value("sign").toString().toUtf8(), signFor(t));
    EXPECT_EQ(lines[0].value("target").toString().toUtf8(), target);

    ASSERT_TRUE(sim.setKnobs({{"fail-notify", "1"}}));
    EXPECT_EQ(sim.request("GET", target, {}, {{"Sign", signFor(t)}}).status, 500);
    EXPECT_EQ(sim.notifications().size(), 2);
}

TEST(UpdateServers, StudioDescriptionIsOfferedWithItsHash)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("studio-pages.json");
    auto write = [&file](const QByteArray &bytes) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(write("{\"version\": 4, \"pages\": {\"upload\": {}}}\n"));
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    EXPECT_FALSE(jsonOf(sim.request("GET", "/u1/up_quorl/index.json")).contains("页面配置"));
    EXPECT_EQ(sim.request("GET", "/u1/up_quorl/studio-pages.json").status, 404);

    ASSERT_TRUE(sim.setKnobs({{"studio-description", file}}));
    auto offered = [&sim](const char *root) {
        return jsonOf(sim.request("GET", QByteArray(root) + "up_quorl/index.json")).value("页面配置").toObject();
    };
    const QJsonObject member = offered("/u2/");
    EXPECT_EQ(member.value("版本").toInteger(-1), 4);
    EXPECT_EQ(member.value("文件名").toString(), "studio-pages.json");
    const auto served = sim.request("GET", "/u2/up_quorl/" + member.value("文件名").toString().toUtf8());
    ASSERT_EQ(served.status, 200);
    EXPECT_TRUE(served.header("Content-Type").startsWith("application/json"));
    EXPECT_EQ(QCryptographicHash::hash(served.body, QCryptographicHash::Sha256).toHex(),
              member.value("SHA256").toString().toLatin1());

    // Read afresh on each request; the advertised hash can be overridden.
    const QByteArray second = "{\"version\": 5}";
    ASSERT_TRUE(write(second));
    EXPECT_EQ(offered("/u3/").value("版本").toInteger(-1), 5);
    EXPECT_EQ(offered("/u3/").value("SHA256").toString().toLatin1(),
              QCryptographicHash::hash(second, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(sim.request("GET", "/u3/up_quorl/studio-pages.json").body, second);
    ASSERT_TRUE(sim.setKnobs({{"studio-description-sha256", QString(64, '0')}}));
    EXPECT_EQ(offered("/u1/").value("SHA256").toString(), QString(64, '0'));
}
