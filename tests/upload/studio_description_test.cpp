#include "tests/support/eventually.h"
#include "tests/upload/e2e_fixture.h"

#include "runlog/run_log.h"
#include "service/studio_delivery.h"
#include "service/url_reader.h"
#include "studio/studio_source.h"
#include "upload/failure_evidence.h"
#include "upload/run_report.h"

#include "base/gbk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

// The description a maintainer wrote for the simulator's redesigned page
// (it keeps the classic selectors behind the new ones).
QByteArray redesignDescription(int version = 2)
{
    QByteArray json = testsupport::readAll(testsupport::sourceDir() + QStringLiteral("/docs/examples/studio-redesign.json"));
    return json.replace("\"version\": 2", "\"version\": " + QByteArray::number(version));
}

class StudioDescriptionTest : public UploadE2eTest {
protected:
    StudioDescriptionTest() { studio::StudioDescriptions::instance().resetForTests(); }
    ~StudioDescriptionTest() override { studio::StudioDescriptions::instance().resetForTests(); }

    QStringList clipsIn(const QString &folder) const { return QDir(folder).entryList({QStringLiteral("*.mp4")}, QDir::Files); }
};

TEST_F(StudioDescriptionTest, ARedesignStopsTheRunBeforeAnyUploadUntilADescriptionForItIsGiven)
{
    startSimulator({"--redesign"});
    const QString folder = addAccount("101", "redesign_user", m_run.file("videos/101"));
    for (int i = 1; i <= 2; ++i)
        makeClip(folder + QStringLiteral("/clip%1.mp4").arg(i));

    // The built-in description on the redesigned page: the run ends before any video.
    QueuedSpy stopped(m_job.get(), &UploadJob::stoppedByPageCheck);
    QElapsedTimer clock;
    clock.start();
    pressStartStop();
    ASSERT_TRUE(stopped.wait(60000));
    EXPECT_LT(clock.elapsed(), 30000);
    const QString message = stopped.first().at(0).toString();
    EXPECT_EQ(message, QStringLiteral("发布页面已改版：找不到 上传进度（.percent）"));
    EXPECT_EQ(m_form.partText("状态条1", 1), message);
    ASSERT_EVENTUALLY(!m_job->isRunning(), 20000);
    EXPECT_EQ(m_form.text("开始"), QStringLiteral("开始"));
    EXPECT_TRUE(ledger().isEmpty());
    // No attempt of a video was reported: none went in.
    const QString report = QString::fromUtf8(testsupport::readAll(runreport::reportPath(QDate::currentDate())));
    EXPECT_TRUE(report.contains(QStringLiteral("run stopped")));
    EXPECT_FALSE(report.contains(QStringLiteral("clip1.mp4"))) << report.toStdString();
    EXPECT_EQ(clipsIn(folder).size(), 2);

    // The user's own description for the new page: both go out under their user.
    ASSERT_TRUE(testsupport::writeAll(m_run.file("data/studio.json"), redesignDescription()));
    ASSERT_TRUE(runUntilDone());
    const QList<QJsonObject> entries = ledger();
    ASSERT_EQ(entries.size(), 2);
    for (const QJsonObject &e : entries)
        EXPECT_EQ(e.value("user").toString(), QStringLiteral("redesign_user"));
    EXPECT_TRUE(clipsIn(folder).isEmpty());
    EXPECT_EQ(studio::StudioDescriptions::instance().current()->origin(), QStringLiteral("studio.json"));
}

TEST_F(StudioDescriptionTest, ADeliveredDescriptionServesTheRunningJobFromItsNextVideo)
{
    const QString offered = m_run.file("offer/studio-7.json");
    QDir().mkpath(QFileInfo(offered).path());
    ASSERT_TRUE(testsupport::writeAll(offered, redesignDescription(7)));
    startSimulator({"--studio-description", offered, "--studio-description-sha256", QString(64, u'0')});
    const QString folder = addAccount("102", "delivered_user", m_run.file("videos/102"));
    for (int i = 1; i <= 3; ++i)
        makeClip(folder + QStringLiteral("/clip%1.mp4").arg(i));
    // A pause after each publish, in which the studio rolls its redesign out.
    m_form.setText("编辑框_视频间隔", "120");
    const QString folderUrl = m_sim->origin() + QStringLiteral("/u1/up_quorl/");
    const auto offer = [&] { return service::takeOfferedStudioDescription(service::readJsonFromUrl(folderUrl + "index.json"), folderUrl); };

    QueuedSpy finished(m_job.get(), &UploadJob::videoFinished);
    QueuedSpy done(m_job.get(), &UploadJob::finishedByItself);
    pressStartStop();
    ASSERT_TRUE(finished.wait(120000));
    ASSERT_TRUE(finished.first().at(2).toBool());
    ASSERT_TRUE(m_sim->setKnobs({{"redesign", "1"}}));

    // A wrong hash, then a document with a role this program does not know:
    // both refused, nothing saved, the built-in description stays.
    EXPECT_FALSE(offer());
    QByteArray unknownRole = redesignDescription(8);
    unknownRole.replace("\"user_name\":", "\"side_banner\": {\"selectors\": [\".banner\"]},\n    \"user_name\":");
    ASSERT_TRUE(testsupport::writeAll(offered, unknownRole));
    ASSERT_TRUE(m_sim->setKnobs({{"studio-description-sha256", ""}}));
    EXPECT_FALSE(offer());
    EXPECT_EQ(studio::StudioDescriptions::instance().current()->origin(), QStringLiteral("built-in"));
    EXPECT_FALSE(QFileInfo::exists(m_run.file("data/studio-7.json")));

    // The right one, while the job counts down to its next video.
    ASSERT_TRUE(testsupport::writeAll(offered, redesignDescription(9)));
    ASSERT_TRUE(offer());
    EXPECT_EQ(studio::StudioDescriptions::instance().deliveredVersion(), 9);
    EXPECT_TRUE(QFileInfo::exists(m_run.file("data/studio-7.json")));
    ASSERT_TRUE(done.wait(180000));
    ASSERT_EQ(finished.size(), 3);
    for (qsizetype i = 0; i < finished.size(); ++i)
        EXPECT_TRUE(finished.at(i).at(2).toBool()) << "video " << i + 1;
    EXPECT_EQ(ledger().size(), 3);
    const QString log = gbk::decode(testsupport::readAll(runlog::runLogPath(QDate::currentDate())));
    EXPECT_TRUE(log.contains(QStringLiteral("页面配置已更新到版本9")));
    EXPECT_TRUE(log.contains(QStringLiteral("页面配置未采用：studio-7.json")));
}

TEST_F(StudioDescriptionTest, AFailedStepNamesItsMissingRoleInTheEvidenceAndTheStopMessage)
{
    startSimulator();
    QByteArray json = studio::StudioDescription::builtInJson();
    json.replace("\".btn-l.btn-sure.ml16\"]", "\".crop-ok-gone\"]");
    ASSERT_TRUE(testsupport::writeAll(m_run.file("data/studio.json"), json));
    ASSERT_TRUE(testsupport::writeAll(m_run.file("data/services.ini"),
                                      testsupport::readAll(m_run.file("data/services.ini")) + "[lanes]\nsame_failure_stop=2\n"));
    const QString folder = addAccount("103", "census_user", m_run.file("videos/103"));
    for (int i = 1; i <= 2; ++i)
        makeClip(folder + QStringLiteral("/clip%1.mp4").arg(i));

    QueuedSpy stopped(m_job.get(), &UploadJob::stoppedByRepeatedFailures);
    pressStartStop();
    ASSERT_TRUE(stopped.wait(120000));
    EXPECT_TRUE(stopped.first().at(0).toString().endsWith(QStringLiteral("请检查发布页面是否改版：找不到 裁剪确定按钮（.crop-ok-gone）")))
        << stopped.first().at(0).toString().toStdString();
    ASSERT_EVENTUALLY(!m_job->isRunning(), 20000);
    EXPECT_TRUE(ledger().isEmpty());

    const QStringList texts = QDir(evidence::failuresFolder()).entryList({QStringLiteral("*.txt")}, QDir::Files);
    ASSERT_FALSE(texts.isEmpty());
    const QString text = QString::fromUtf8(testsupport::readAll(evidence::failuresFolder() + u'/' + texts.first()));
    EXPECT_TRUE(text.contains(QStringLiteral("裁剪确定按钮（.crop-ok-gone）"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  crop_ok 裁剪确定按钮: MISSING (.crop-ok-gone #1: 0 on the page)"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  cover_box 封面框: found (.m-quorl-upload #1: 1 on the page)"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("  video_input 视频上传框: found (input[type=file] #1: 2 on the page)"))) << text.toStdString();
}

} // namespace
