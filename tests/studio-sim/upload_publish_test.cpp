#include "sim_client.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <thread>

using testsupport::SimProcess;

namespace {

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray tinyJpeg()
{
    return QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(200, 'j');
}

} // namespace

TEST(StudioUpload, Mp4IsStoredHashedAndEveryConfirmedSubmitPublishes)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Alice"));
    const QByteArray video = sampleMp4();
    ASSERT_GT(video.size(), 1000);

    qint64 chunk = 0;
    const QString id = client.beginUpload("旅行.mp4", video.size(), &chunk);
    ASSERT_FALSE(id.isEmpty());
    ASSERT_GT(chunk, 0);
    ASSERT_LT(chunk, video.size()); // several requests, so progress is real

    const QJsonObject fields {{"upload_id", id}, {"title", "【原创】旅行"}, {"original", true},
                              {"watermark", true}, {"sync", true}, {"draft", false}, {"cover_id", ""}};
    // Half way through, a publish is refused and writes nothing.
    const QJsonObject half = client.sendFrom(id, video.left(video.size() / 2), 0, chunk);
    EXPECT_EQ(half.value("state").toString(), "uploading");
    EXPECT_EQ(client.publish(fields).status, 409);
    EXPECT_TRUE(sim.ledger().isEmpty());

    const QJsonObject done = client.sendFrom(id, video, half.value("received").toInteger(), chunk);
    EXPECT_EQ(done.value("state").toString(), "done");
    EXPECT_EQ(done.value("received").toInteger(), video.size());

    const auto published = client.publish(fields);
    ASSERT_EQ(published.status, 200);
    EXPECT_EQ(jsonOf(published).value("location").toString(), "/content?tab=video&investigation_param=cover_edited");
    // As on the platform, a second confirmed submit of the same upload publishes it again.
    ASSERT_EQ(client.publish(fields).status, 200);

    const auto ledger = sim.ledger();
    ASSERT_EQ(ledger.size(), 2);
    EXPECT_EQ(ledger[1].value("upload_id"), ledger[0].value("upload_id"));
    const QJsonObject line = ledger.first();
    EXPECT_EQ(line.value("user").toString(), "Alice");
    EXPECT_EQ(line.value("title").toString(), "【原创】旅行");
    EXPECT_TRUE(line.value("original").toBool());
    EXPECT_TRUE(line.value("watermark").toBool());
    EXPECT_TRUE(line.value("sync").toBool());
    EXPECT_FALSE(line.value("draft").toBool());
    EXPECT_EQ(line.value("cover").toString(), "platform");
    EXPECT_EQ(line.value("file_name").toString(), "旅行.mp4");
    EXPECT_EQ(line.value("file_size").toInteger(), video.size());
    EXPECT_EQ(line.value("file_sha256").toString().toUtf8(), sha256Hex(video));
    EXPECT_FALSE(line.value("time").toString().isEmpty());

    QFile stored(QDir(sim.dataDir()).filePath("uploads/" + id + ".mp4"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(sha256Hex(stored.readAll()), sha256Hex(video));

    const auto content = client.get("/content?tab=video&investigation_param=cover_edited");
    EXPECT_TRUE(content.body.contains("【原创】旅行"));
}

TEST(StudioUpload, FilesWithoutAnFtypBoxFailAndCannotBePublished)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Bob"));

    QByteArray notMp4 = sampleMp4();
    notMp4.replace(4, 4, "free"); // same size, no container signature at offset 4
    QJsonObject last;
    const QString id = client.uploadAll("fake.mp4", notMp4, &last);
    EXPECT_EQ(last.value("state").toString(), "failed");
    EXPECT_EQ(client.publish({{"upload_id", id}, {"title", "x"}}).status, 409);

    // Too short to hold the box at all.
    client.uploadAll("tiny.mp4", "abc", &last);
    EXPECT_EQ(last.value("state").toString(), "failed");
    EXPECT_TRUE(sim.ledger().isEmpty());
}

TEST(StudioUpload, FailUploadKnobRejectsEvenRealClips)
{
    SimProcess sim({"--fail-upload"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Bob"));
    QJsonObject last;
    client.uploadAll("a.mp4", sampleMp4(), &last);
    EXPECT_EQ(last.value("state").toString(), "failed");
}

TEST(StudioUpload, StallHoldsAtThePercentageUntilTheKnobIsCleared)
{
    SimProcess sim({"--stall-at", "40"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Dave"));
    const QByteArray video = sampleMp4();
    qint64 chunk = 0;
    const QString id = client.beginUpload("s.mp4", video.size(), &chunk);
    QJsonObject last = client.sendFrom(id, video, 0, chunk);
    EXPECT_EQ(last.value("state").toString(), "stalled");
    const qint64 held = last.value("received").toInteger();
    EXPECT_EQ(held * 100 / video.size(), 40); // the page shows "40%"
    EXPECT_LT(held, video.size());
    // Asking again changes nothing while the knob stands.
    last = client.sendFrom(id, video, held, chunk);
    EXPECT_EQ(last.value("received").toInteger(), held);
    EXPECT_EQ(last.value("state").toString(), "stalled");

    ASSERT_TRUE(sim.setKnobs({{"stall-at", "-1"}}));
    last = client.sendFrom(id, video, held, chunk);
    EXPECT_EQ(last.value("state").toString(), "done");

    // At 100 every byte arrives but the upload never reports done.
    ASSERT_TRUE(sim.setKnobs({{"stall-at", "100"}}));
    const QString full = client.beginUpload("f.mp4", video.size(), &chunk);
    last = client.sendFrom(full, video, 0, chunk);
    EXPECT_EQ(last.value("state").toString(), "stalled");
    EXPECT_EQ(last.value("received").toInteger(), video.size());
    ASSERT_TRUE(sim.setKnobs({{"stall-at", "-1"}}));
    last = client.sendFrom(full, video, video.size(), chunk);
    EXPECT_EQ(last.value("state").toString(), "done");

    // With a name given, only matching files stall.
    ASSERT_TRUE(sim.setKnobs({{"stall-at", "10"}, {"stall-name", "卡住"}}));
    QJsonObject other;
    client.uploadAll("正常.mp4", video, &other);
    EXPECT_EQ(other.value("state").toString(), "done");
    client.uploadAll("会卡住.mp4", video, &other);
    EXPECT_EQ(other.value("state").toString(), "stalled");
}

TEST(StudioUpload, RequestsOutOfTurnOrFromStrangersAreRefused)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient alice(sim), mallory(sim);
    ASSERT_TRUE(alice.login("Alice"));
    ASSERT_TRUE(mallory.login("Mallory"));
    const QByteArray video = sampleMp4();
    const QString id = alice.beginUpload("a.mp4", video.size());

    const auto skipped = alice.put("/api/upload/chunk?id=" + id.toUtf8() + "&offset=100", video.mid(100, 100));
    EXPECT_EQ(skipped.status, 409);
    EXPECT_EQ(jsonOf(skipped).value("received").toInteger(), 0);
    EXPECT_EQ(mallory.put("/api/upload/chunk?id=" + id.toUtf8() + "&offset=0", video).status, 404);
    EXPECT_EQ(sim.request("PUT", "/api/upload/chunk?id=" + id.toUtf8() + "&offset=0", video).status, 401);
    EXPECT_EQ(alice.put("/api/upload/chunk?id=" + id.toUtf8() + "&offset=x", video).status, 400);

    EXPECT_EQ(alice.sendFrom(id, video, 0, 4096).value("state").toString(), "done");
    EXPECT_EQ(mallory.publish({{"upload_id", id}, {"title", "t"}}).status, 409);
    EXPECT_EQ(alice.publish({{"upload_id", id}, {"title", ""}}).status, 400);

    // Malformed bodies get an answer, not a crash.
    EXPECT_EQ(alice.post("/api/upload/init", "{\"size\":").status, 400);
    EXPECT_EQ(alice.post("/api/upload/init", "{\"size\":-5}").status, 400);
    EXPECT_EQ(alice.post("/api/upload/init", "{\"size\":1e30}").status, 400);
    EXPECT_EQ(alice.post("/api/publish", "[1,2]").status, 400);
    EXPECT_EQ(alice.get("/api/whoami").status, 200);
    EXPECT_TRUE(sim.ledger().isEmpty());
}

TEST(StudioPublish, DraftsAndCoversAreRecordedAsChosen)
{
    SimProcess sim({"--slow-dialogs", "1"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Erin"));

    const QString picture = jsonOf(client.post("/api/cover?kind=uploaded", tinyJpeg())).value("id").toString();
    ASSERT_FALSE(picture.isEmpty());
    EXPECT_EQ(client.post("/api/cover?kind=uploaded", "GIF is not this").status, 400);
    EXPECT_EQ(client.post("/api/cover?kind=other", {}).status, 400);
    const QString platform = jsonOf(client.post("/api/cover?kind=platform&frame=2", {})).value("id").toString();
    ASSERT_FALSE(platform.isEmpty());

    const QString first = client.uploadAll("d.mp4", sampleMp4());
    const auto draft = client.publish({{"upload_id", first}, {"title", "草稿一"}, {"draft", true},
                                       {"original", false}, {"watermark", true}, {"cover_id", picture}});
    ASSERT_EQ(draft.status, 200);
    EXPECT_EQ(jsonOf(draft).value("location").toString(), "/content?tab=draft");

    const QString second = client.uploadAll("p.mp4", sampleMp4());
    ASSERT_EQ(client.publish({{"upload_id", second}, {"title", "二"}, {"cover_id", platform}}).status, 200);

    // A cover id that is not this user's is refused.
    SimClient other(sim);
    ASSERT_TRUE(other.login("Frank"));
    const QString third = other.uploadAll("f.mp4", sampleMp4());
    EXPECT_EQ(other.publish({{"upload_id", third}, {"title", "x"}, {"cover_id", picture}}).status, 400);

    const auto ledger = sim.ledger();
    ASSERT_EQ(ledger.size(), 2);
    EXPECT_TRUE(ledger[0].value("draft").toBool());
    EXPECT_EQ(ledger[0].value("cover").toString(), "uploaded");
    EXPECT_FALSE(ledger[0].value("watermark").toBool()); // no watermark on a repost
    EXPECT_FALSE(ledger[1].value("draft").toBool());
    EXPECT_EQ(ledger[1].value("cover").toString(), "platform");

    EXPECT_TRUE(client.get("/content?tab=draft").body.contains("草稿一"));
    EXPECT_FALSE(client.get("/content?tab=draft").body.contains("<td class=\"content-item__title\">二</td>"));
}

TEST(StudioPublish, CategoriesAreATwoLevelTreeWithUniqueIds)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    EXPECT_EQ(sim.request("GET", "/api/categories").status, 401);
    SimClient client(sim);
    ASSERT_TRUE(client.login("Ivy"));
    const auto answer = client.get("/api/categories");
    ASSERT_EQ(answer.status, 200);
    const QJsonArray tree = QJsonDocument::fromJson(answer.body).array();
    EXPECT_GE(tree.size(), 4);
    EXPECT_LE(tree.size(), 5);
    QSet<qint64> ids;
    qsizetype count = 0;
    const QByteArray page = client.get("/upload").body;
    for (const QJsonValue &first : tree) {
        const QJsonArray children = first["children"].toArray();
        EXPECT_GE(children.size(), 2);
        EXPECT_LE(children.size(), 4);
        EXPECT_FALSE(first["name"].toString().isEmpty());
        ids.insert(first["id"].toInteger());
        ++count;
        // The page carries the same tree, hidden, for clients that read it there.
        EXPECT_TRUE(page.contains("<li class=\"category-tree__first\" data-id=\"" + QByteArray::number(first["id"].toInteger())
                                  + "\" data-name=\"" + first["name"].toString().toUtf8() + "\">"));
        for (const QJsonValue &second : children) {
            EXPECT_FALSE(second["name"].toString().isEmpty());
            EXPECT_GT(second["id"].toInteger(), 0);
            ids.insert(second["id"].toInteger());
            ++count;
        }
    }
    EXPECT_EQ(ids.size(), count);
}

TEST(StudioPublish, LedgerRecordsTagsCategoryAndATimeInsideTheWindow)
{
    SimProcess sim({}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Jay"));
    const QString id = client.uploadAll("j.mp4", sampleMp4());
    auto at = [](qint64 seconds) {
        return QDateTime::currentDateTime().addSecs(seconds).toString(QStringLiteral("yyyy-MM-ddTHH:mm"));
    };
    const QJsonObject base {{"upload_id", id}, {"title", "定时"}, {"tags", QJsonArray {"旅行", "日常"}},
                            {"category", QJsonArray {"生活", "美食"}}, {"category_ids", QJsonArray {101, 10102}}};
    auto with = [&base](const QString &scheduledAt, bool draft = false) {
        QJsonObject fields = base;
        fields["scheduled_at"] = scheduledAt;
        fields["draft"] = draft;
        return fields;
    };
    // Outside two hours to fourteen days ahead, by the server's clock, a publish is refused.
    const auto early = client.publish(with(at(3600)));
    EXPECT_EQ(early.status, 400);
    EXPECT_FALSE(jsonOf(early).value("error").toString().isEmpty());
    EXPECT_EQ(client.publish(with(at(15 * 24 * 3600))).status, 400);
    EXPECT_EQ(client.publish(with("2030-01-01 10:00")).status, 400);
    QJsonObject wrongCategory = with({});
    wrongCategory["category_ids"] = QJsonArray {101, 10201};
    EXPECT_EQ(client.publish(wrongCategory).status, 400);
    EXPECT_TRUE(sim.ledger().isEmpty());

    const QString when = at(3 * 3600);
    const auto scheduled = client.publish(with(when));
    ASSERT_EQ(scheduled.status, 200);
    EXPECT_EQ(jsonOf(scheduled).value("location").toString(), "/content?tab=video&investigation_param=cover_edited");
    // A draft keeps no publish time, so an out-of-window one does not matter.
    ASSERT_EQ(client.publish(with(at(3600), true)).status, 200);
    ASSERT_EQ(client.publish({{"upload_id", id}, {"title", "立即"}}).status, 200);

    const auto ledger = sim.ledger();
    ASSERT_EQ(ledger.size(), 3);
    EXPECT_EQ(ledger[0].value("tags").toArray(), (QJsonArray {"旅行", "日常"}));
    EXPECT_EQ(ledger[0].value("category").toArray(), (QJsonArray {"生活", "美食"}));
    EXPECT_EQ(ledger[0].value("scheduled_at").toString(), when);
    EXPECT_EQ(ledger[1].value("scheduled_at").toString(), "");
    EXPECT_EQ(ledger[2].value("tags").toArray(), QJsonArray {});
    EXPECT_EQ(ledger[2].value("category").toArray(), QJsonArray {});
    EXPECT_EQ(ledger[2].value("scheduled_at").toString(), "");
}

TEST(StudioPublish, KnobsFailCoversAndPublishes)
{
    SimProcess sim({"--fail-cover", "--fail-publish", "--slow-dialogs", "1"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Gina"));
    EXPECT_EQ(client.post("/api/cover?kind=platform", {}).status, 500);
    const QString id = client.uploadAll("g.mp4", sampleMp4());
    EXPECT_EQ(client.publish({{"upload_id", id}, {"title", "g"}}).status, 500);
    ASSERT_TRUE(sim.setKnobs({{"fail-publish", "false"}}));
    EXPECT_EQ(client.publish({{"upload_id", id}, {"title", "g"}}).status, 200);
}

TEST(StudioUpload, ShutdownWakesARequestHeldBackBySpeed)
{
    SimProcess sim({"--upload-kbps", "1"}, {}, studioSimBinary());
    ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
    SimClient client(sim);
    ASSERT_TRUE(client.login("Hank"));
    const QByteArray bytes = sampleMp4() + QByteArray(64 * 1024, 'v');
    const QString id = client.beginUpload("h.mp4", bytes.size());
    // At 1 KiB/s the answer to this chunk is due in half a minute; SIGTERM must not wait for it.
    std::thread slow([&] { client.put("/api/upload/chunk?id=" + id.toUtf8() + "&offset=0", bytes.left(32 * 1024)); });
    const QString part = sim.dataDir() + "/uploads/" + id + ".part";
    while (QFileInfo(part).size() == 0 && sim.isRunning())
        std::this_thread::yield();
    EXPECT_EQ(sim.stop(), 0);
    slow.join();
}
