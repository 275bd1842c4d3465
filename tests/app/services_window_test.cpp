#include "app/application.h"
#include "app/skin.h"
#include "browser/browser_library.h"
#include "base/gbk.h"
#include "runlog/run_log.h"
#include "service/update_check.h"
#include "upload/job_state.h"
#include "tests/service/recording_view.h"
#include "tests/support/eventually.h"
#include "tests/support/sim_process.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The start timer and the version watch's pauses shrink.
const bool kScaled = qputenv("TOLVAR_TIME_SCALE", "0.02");

TEST(Skin, ColourAdjustmentsAreClamped)
{
    const QColor blue(QStringLiteral("#2f6fb2"));
    EXPECT_EQ(skin::adjustColor(blue, 0, 0), blue);
    EXPECT_EQ(skin::adjustColor(blue, 500, 0), skin::adjustColor(blue, 180, 0));
    EXPECT_EQ(skin::adjustColor(blue, -500, 0), skin::adjustColor(blue, -180, 0));
    EXPECT_EQ(skin::adjustColor(blue, 0, 300), skin::adjustColor(blue, 0, 100));
    EXPECT_EQ(skin::adjustColor(blue, 0, -300).hsvSaturation(), 0);
    EXPECT_EQ(skin::adjustColor(blue, 120, 0).hsvHue(), (blue.hsvHue() + 120) % 360);
    // Grey has no hue to turn.
    EXPECT_EQ(skin::adjustColor(QColor(128, 128, 128), 90, 50), QColor(128, 128, 128));
}

TEST(Skin, ThemeIsCarriedAndAttachedToTheApplication)
{
    const QString theme = skin::themeStyleSheet();
    ASSERT_TRUE(theme.contains("QPushButton"));
    const QString turned = skin::adjustStyleSheet(theme, 180, 0);
    EXPECT_FALSE(turned.contains("#2f6fb2"));
    EXPECT_EQ(turned.size(), theme.size());
    skin::attachSkin(0, 0);
    EXPECT_EQ(qApp->styleSheet(), theme);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor("#f3f6fa"));
    EXPECT_EQ(QApplication::font().families().value(0), skin::preferredFontFamily());
    // Out-of-range adjustments are clamped, not refused.
    skin::attachSkin(1000, -1000);
    EXPECT_EQ(qApp->styleSheet(), skin::adjustStyleSheet(theme, 180, -100));
    skin::attachSkin(0, 0);
}

// The whole start-up against the simulator, with a new version on offer.
class ServicesWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.isRunning()) << sim.startError().toStdString();
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(".config").toLocal8Bit());
        QDir().mkpath(home.filePath("Desktop"));
        QDir().mkpath(run.file("data"));
        ASSERT_TRUE(testsupport::writeAll(run.file("data/services.ini"), simServicesIni(sim.port())));
    }
    void TearDown() override
    {
        qputenv("HOME", savedHome);
        qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    QByteArray savedHome = qgetenv("HOME");
    QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir home;
    testsupport::TempRunDir run;
    testsupport::SimProcess sim{{"--update-version", "3.1", "--update-file-size", "2097152"}, QString(), QStringLiteral(TOLVAR_STUDIO_SIM_BIN)};
};

TEST_F(ServicesWindowTest, StartUpShowsVersionUpdateAnnouncementAndWatch)
{
    const QString oldLink = home.filePath(QStringLiteral("Desktop/Tolvar视频批量发布.desktop"));
    ASSERT_TRUE(testsupport::writeAll(oldLink, "[Desktop Entry]\n"));
    RecordingPresenter presenter(messagebox::Answer::Ok);
    Application app{CommandLine{}};
    int exits = 0;
    app.setExitProcess([&exits] { ++exits; });
    QSignalSpy ready(&app, &Application::mainWindowReady);
    app.startUp();
    ASSERT_TRUE(ready.wait(10000));
    ASSERT_NE(app.startWindow(), nullptr);
    StartWindow &start = *app.startWindow();
    Form &form = app.startForm();

    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(oldLink) == false; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.isVisible(QStringLiteral("超级按钮_打开")); }, 20000));
    EXPECT_EQ(form.partText("状态条1", 0), QStringLiteral("版本v3.0"));
    EXPECT_EQ(form.partText("状态条1", 1), QStringLiteral("华北多线服务器正常"));
    EXPECT_EQ(form.text("透明标签_更新"), QStringLiteral("更新结束"));
    // The model changes on the update's threads; the widget follows once
    // its queued refresh has run.
    ASSERT_EVENTUALLY_EQ(start.findChild<QPushButton *>("超级按钮_打开")->text(), QStringLiteral("打开：tolvar_new.exe"), 5000);
    EXPECT_EQ(QFileInfo(run.file("tolvar_new.exe")).size(), 2097152);
    EXPECT_TRUE(presenter.titles().contains(QStringLiteral("发现新版本，是否更新")));

    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.image("图片框_广告").isEmpty(); }, 20000));
    const QLabel *picture = start.findChild<QLabel *>("图片框_广告");
    ASSERT_NE(picture, nullptr);
    ASSERT_EVENTUALLY(!picture->pixmap().isNull(), 5000);
    EXPECT_EQ(form.tag("图片框_广告"), sim.url("/upload"));
    const QString part2 = form.partText("状态条1", 2);
    EXPECT_TRUE(part2 == QStringLiteral("欢迎使用Tolvar，祝您创作愉快！") || part2 == QStringLiteral("   路虽远，行则将至；事虽难，做则必成。"))
        << part2.toStdString();

    EXPECT_TRUE(QTest::qWaitFor([&] { return app.mainForm().partText("状态条1", 3) == QStringLiteral("当前：3.0   最新版：3.1"); }, 20000));

    // A tag that is no web address is shown as a message.
    form.setTag("图片框_广告", QStringLiteral("公告：今晚维护"));
    const qsizetype shown = presenter.texts().size();
    QTest::mousePress(const_cast<QLabel *>(picture), Qt::RightButton); // the left button only
    EXPECT_EQ(presenter.texts().size(), shown);
    QTest::mousePress(const_cast<QLabel *>(picture), Qt::LeftButton);
    EXPECT_EQ(presenter.texts().last(), QStringLiteral("公告：今晚维护"));

    const QString log = gbk::decode(testsupport::readAll(runlog::runLogPath(QDate::currentDate())));
    for (const char *line : {"启动窗口创建完毕", "启动窗口线程", "显示版本号3.0", "版本检查结果1是最新版：0", "启动升级程序检查", "升级文件获取到数据", "提醒用户升级"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line;
    EXPECT_LT(log.indexOf(QStringLiteral("启动窗口线程")), log.indexOf(QStringLiteral("启动窗口创建完毕")));
    EXPECT_EQ(exits, 0);
    app.updateCheck().wait();
}

// A browser start can take many seconds: the window's browser commands
// run beside the user-interface thread, which goes on handling events.
TEST_F(ServicesWindowTest, TheWindowStaysLiveWhileItsBrowserCallsRun)
{
    QByteArray ini = simServicesIni(sim.port());
    ini += "[browser]\nheadless=true\nextra_args=--no-sandbox --disable-gpu --no-first-run --disable-background-networking --disable-sync\n";
    ASSERT_TRUE(testsupport::writeAll(run.file("data/services.ini"), ini));
    // Its file says it has no proxy: only such an account's browser goes direct.
    ASSERT_TRUE(testsupport::writeAll(run.file("data/list/live1.json"), R"({"昵称":"","素材目录":"","缓存id":"live1","代理":""})"));
    RecordingPresenter presenter(messagebox::Answer::Ok);
    Application app{CommandLine{}};
    app.setExitProcess([] {});
    QSignalSpy ready(&app, &Application::mainWindowReady);
    app.startUp();
    ASSERT_TRUE(ready.wait(10000));

    bool inCall = false;
    int ticksInCall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticksInCall += inCall; });
    ticker.start(10);
    app.mainForm().setText("编辑框_账号标识", "live1");
    inCall = true;
    app.mainForm().click("按钮14");
    inCall = false;
    EXPECT_GT(ticksInCall, 0) << "the event loop stood still while the browser started";
    // A login window: never the job's page.
    EXPECT_EQ(currentPageId.load(), 0);
    const QList<int> pages = BrowserLibrary::instance().form_connect_started().pageIds;
    ASSERT_FALSE(pages.isEmpty());
    const int page = pages.last();

    app.mainForm().click("按钮11");
    EXPECT_TRUE(app.mainForm().text("标签_版本").contains("Chrome/")) << app.mainForm().text("标签_版本").toStdString();
    BrowserLibrary::instance().form_close_browser(page);
    app.updateCheck().wait();
}

} // namespace
