#include "base/gbk.h"
#include "runlog/run_log.h"
#include "service/announcement.h"
#include "service/update_check.h"
#include "service/url_reader.h"
#include "service/version_watch.h"
#include "tests/service/recording_view.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>

using testsupport::SimProcess;

namespace {

// Prescribed pauses (2 s after a download, 6 s and 60 s of the watch) shrink.
const bool kScaled = qputenv("TOLVAR_TIME_SCALE", "0.02");

QStringList runLogLines()
{
    const QString text = gbk::decode(testsupport::readAll(runlog::runLogPath(QDate::currentDate())));
    QStringList lines;
    for (const QString &line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        lines.prepend(line.mid(line.indexOf(QStringLiteral("   ")) + 3)); // oldest first
    return lines;
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void startSim(const QStringList &knobs)
    {
        sim = std::make_unique<SimProcess>(knobs, QString(), QStringLiteral(TOLVAR_STUDIO_SIM_BIN));
        ASSERT_TRUE(sim->isRunning()) << sim->startError().toStdString();
        QDir().mkpath(run.file("data"));
        check = std::make_unique<UpdateCheck>(view, simConfig(sim->port()));
        check->setRemoveDesktopLink([this] { ++linkRemovals; });
    }

    // Runs an accepted update to its end: the downloader's final call.
    bool runAcceptedUpdate()
    {
        RecordingPresenter ok(messagebox::Answer::Ok);
        check->runUpdate();
        return waitUntil([this] {
            const QStringList labels = view.labelTexts();
            return !labels.isEmpty() && (labels.last() == service::kUpdateFailedText || view.openButtonShown());
        });
    }

    testsupport::TempRunDir run;
    RecordingView view;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<UpdateCheck> check;
    std::atomic_int linkRemovals{0};
};

TEST_F(UpdateCheckTest, ProbeTakesTheFirstServerAnsweringExactlyOk)
{
    struct Case {
        QStringList knobs;
        int root;
        QString message;
    };
    const Case cases[] = {
        {{}, 1, QStringLiteral("华北多线服务器正常")},
        {{"--update-probe-bad", "1"}, 2, QStringLiteral("广州服务器正常")},
        {{"--update-down", "1,2"}, 3, QStringLiteral("上海服务器正常")},
        {{"--update-probe-bad", "1,2,3"}, 1, QStringLiteral("服务器异常，尝试使用多线服务器连接")},
    };
    for (const Case &c : cases) {
        startSim(c.knobs + QStringList{"--update-version", "3.1"});
        RecordingPresenter cancel(messagebox::Answer::Cancel);
        check->runUpdate();
        EXPECT_EQ(check->updateRoot(), sim->url(QStringLiteral("/u%1/").arg(c.root))) << c.knobs.join(' ').toStdString();
        EXPECT_EQ(view.startStatus(1), c.message);
        // The chosen root's document is offered, also after the fallback to A.
        ASSERT_EQ(cancel.titles(), QStringList{QStringLiteral("发现新版本，是否更新")});
        EXPECT_EQ(cancel.texts().first(), QStringLiteral("发现新版本：v3.1，更新内容：\r\n修复已知问题，提升上传稳定性"));
    }
}

TEST_F(UpdateCheckTest, NoServerAnsweringStillOffersNothingWithoutADocument)
{
    startSim({"--update-down", "1,2,3"});
    RecordingPresenter ok(messagebox::Answer::Ok);
    EXPECT_EQ(check->checkLatestVersion(), "0");
    check->runUpdate();
    EXPECT_EQ(check->updateRoot(), sim->url("/u1/"));
    EXPECT_EQ(view.startStatus(1), QStringLiteral("服务器异常，尝试使用多线服务器连接"));
    EXPECT_TRUE(ok.titles().isEmpty());
    EXPECT_TRUE(view.labelTexts().isEmpty());
    EXPECT_EQ(runLogLines(), (QStringList{QStringLiteral("启动升级程序检查"), QStringLiteral("升级文件获取到数据")}));
}

TEST_F(UpdateCheckTest, OnlyAnotherVersionWithAnAddressIsOffered)
{
    const struct {
        QStringList knobs;
        QString latest;
        bool offered;
    } cases[] = {
        {{"--update-version", "3.0"}, "1", false},
        {{"--update-version", "3.0.0"}, "0", true},
        {{"--update-version", "2.9"}, "0", true},
        {{"--fail-index"}, "0", false},
        {{"--broken-index", "--update-version", "3.1"}, "0", false},
        {{"--update-version", ""}, "0", false},
    };
    for (const auto &c : cases) {
        startSim(c.knobs);
        QFile::remove(runlog::runLogPath(QDate::currentDate()));
        RecordingPresenter cancel(messagebox::Answer::Cancel);
        check->runStartupChecks();
        const QStringList lines = runLogLines();
        ASSERT_GE(lines.size(), 3) << c.knobs.join(' ').toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("显示版本号3.0"));
        EXPECT_EQ(lines[1], QStringLiteral("版本检查结果1是最新版：") + c.latest);
        EXPECT_EQ(cancel.titles().size(), c.offered ? 1 : 0) << c.knobs.join(' ').toStdString();
        EXPECT_EQ(lines.contains(QStringLiteral("提醒用户升级")), c.offered);
        EXPECT_EQ(view.startStatus(0), QStringLiteral("版本v3.0"));
    }
}

TEST_F(UpdateCheckTest, CompletedDownloadShowsTheButtonAndRemovesTheLink)
{
    startSim({"--update-version", "3.1", "--update-file-size", "3000000"});
    ASSERT_TRUE(runAcceptedUpdate());
    const QStringList labels = view.labelTexts();
    EXPECT_EQ(labels.first(), QStringLiteral("开始更新"));
    EXPECT_EQ(labels.last(), QStringLiteral("更新结束"));
    EXPECT_EQ(labels[labels.size() - 2], QStringLiteral("已下载：2929.6875kb/2929.6875kb\r\n进度：100%"));
    EXPECT_TRUE(view.openButtonShown());
    EXPECT_EQ(view.openCaption(), QStringLiteral("打开：tolvar_new.exe"));
    EXPECT_EQ(linkRemovals, 1);
    const QString path = run.file("tolvar_new.exe");
    EXPECT_EQ(QFileInfo(check->updateFilePath()).absoluteFilePath(), QFileInfo(path).absoluteFilePath());
    const QByteArray bytes = testsupport::readAll(path);
    ASSERT_EQ(bytes.size(), 3000000);
    for (qsizetype i = 0; i < bytes.size(); i += 4099)
        ASSERT_EQ(static_cast<unsigned char>(bytes[i]), (i * 7 + 3) % 251) << i;
}

TEST_F(UpdateCheckTest, TinyDownloadGivesTheFailureTextAndLeavesTheLinkAlone)
{
    startSim({"--update-version", "3.1", "--update-file-size", "10"});
    ASSERT_TRUE(runAcceptedUpdate());
    const QStringList labels = view.labelTexts();
    EXPECT_TRUE(labels.contains(QStringLiteral("更新结束")));
    EXPECT_EQ(labels.last(), service::kUpdateFailedText);
    EXPECT_FALSE(view.openButtonShown());
    EXPECT_EQ(linkRemovals, 0);
}

TEST_F(UpdateCheckTest, FailedDownloadNeverClaimsTheEnd)
{
    startSim({"--update-version", "3.1", "--fail-download"});
    ASSERT_TRUE(runAcceptedUpdate());
    EXPECT_FALSE(view.labelTexts().contains(QStringLiteral("更新结束")));
    EXPECT_EQ(view.labelTexts().last(), service::kUpdateFailedText);
    EXPECT_FALSE(view.openButtonShown());
    EXPECT_EQ(linkRemovals, 0);
}

TEST_F(UpdateCheckTest, FileNameWithFoldersIsRefused)
{
    for (const QString &name : {QStringLiteral("../evil.exe"), QStringLiteral("sub/evil.exe"), QStringLiteral("..\\evil.exe"),
                                QStringLiteral(".."), QStringLiteral(""), QStringLiteral("/tmp/evil.exe")}) {
        startSim({"--update-version", "3.1", "--update-file-name", name});
        ASSERT_TRUE(runAcceptedUpdate()) << name.toStdString();
        EXPECT_EQ(view.labelTexts().last(), service::kUpdateFailedText);
        EXPECT_TRUE(check->updateFilePath().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(QFileInfo(run.path()).dir().filePath("evil.exe")));
        EXPECT_FALSE(QFileInfo::exists(run.file("sub")));
        EXPECT_EQ(linkRemovals, 0);
    }
}

TEST_F(UpdateCheckTest, CancelledOfferDownloadsNothing)
{
    startSim({"--update-version", "3.1"});
    RecordingPresenter cancel(messagebox::Answer::Cancel);
    check->runUpdate();
    EXPECT_EQ(cancel.titles().size(), 1);
    EXPECT_TRUE(view.labelTexts().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(run.file("tolvar_new.exe")));
}

TEST_F(UpdateCheckTest, DailyQuoteGoesToPartTwo)
{
    startSim({"--quote-text", "千里之行，始于足下"});
    check->showDailyQuote();
    EXPECT_EQ(view.startStatus(2), QStringLiteral("   千里之行，始于足下"));
    ASSERT_TRUE(sim->setKnobs({{"fail-quote", "1"}}));
    check->showDailyQuote();
    EXPECT_EQ(view.startStatus(2), QStringLiteral("   "));
}

TEST(DriveAdvice, OnlyDriveCWithDriveLetters)
{
    EXPECT_TRUE(UpdateCheck::showsDriveAdvice(QStringLiteral("C:\\tools\\tolvar"), true));
    EXPECT_FALSE(UpdateCheck::showsDriveAdvice(QStringLiteral("c:\\tools"), true));
    EXPECT_FALSE(UpdateCheck::showsDriveAdvice(QStringLiteral("D:\\tools"), true));
    EXPECT_FALSE(UpdateCheck::showsDriveAdvice(QStringLiteral("C:\\tools"), false));
}

TEST_F(UpdateCheckTest, AnnouncementTextPictureAndTag)
{
    startSim({});
    Announcement announcement(view, simConfig(sim->port()));
    announcement.showAnnouncement();
    EXPECT_EQ(view.startStatus(2), QStringLiteral("欢迎使用Tolvar，祝您创作愉快！"));
    EXPECT_TRUE(view.picture().startsWith("GIF89a"));
    EXPECT_EQ(view.pictureTag(), sim->url("/upload"));

    ASSERT_TRUE(sim->setKnobs({{"fail-announcement", "1"}, {"fail-ad", "1"}}));
    announcement.showAnnouncement();
    EXPECT_EQ(view.startStatus(2), QString());
    EXPECT_TRUE(view.picture().isEmpty());
    EXPECT_EQ(view.pictureTag(), QString());
}

TEST_F(UpdateCheckTest, VersionWatchShowsCurrentAndLatest)
{
    startSim({"--update-version", "3.2"});
    VersionWatch watch(view, simConfig(sim->port()));
    watch.start();
    EXPECT_TRUE(waitUntil([this] { return view.mainStatus(3) == QStringLiteral("当前：3.0   最新版：3.2"); }));
    ASSERT_TRUE(sim->setKnobs({{"update-down", "1"}}));
    EXPECT_TRUE(waitUntil([this] { return view.mainStatus(3) == QStringLiteral("当前：3.0   最新版："); }));
    watch.stop();
}

TEST(FlatJson, ValuesReadAsText)
{
    const service::JsonFields f = service::parseFlatJson(R"({"版本": 3.5, "a": "x", "n": null, "o": {"k": 1}, "t": true})");
    EXPECT_EQ(f.value("版本"), "3.5");
    EXPECT_EQ(f.value("a"), "x");
    EXPECT_EQ(f.value("n"), "");
    EXPECT_EQ(f.value("o"), R"({"k":1})");
    EXPECT_EQ(f.value("t"), "true");
    EXPECT_EQ(f.value("missing"), "");
    EXPECT_TRUE(service::parseFlatJson("[1,2]").isEmpty());
    EXPECT_TRUE(service::parseFlatJson(R"({"版本": "3.1", )").isEmpty());
    EXPECT_TRUE(service::parseFlatJson("").isEmpty());

    // A server that serves its documents in GBK is read as well.
    const service::JsonFields g = service::parseFlatJson(gbk::encode(uR"({"版本": "3.1", "更新说明": "修复已知问题"})"));
    EXPECT_EQ(g.value("版本"), "3.1");
    EXPECT_EQ(g.value("更新说明"), QStringLiteral("修复已知问题"));
}

} // namespace
