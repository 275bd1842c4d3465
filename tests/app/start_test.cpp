// Start works on the whole account list, however early it is pressed.
#include "accounts/account_store.h"
#include "accounts/account_table.h"
#include "app/application.h"
#include "app/settings_file.h"
#include "base/message_box.h"
#include "form/window_layout.h"
#include "tests/support/test_support.h"
#include "upload/upload_job.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class QuietPresenter final : public messagebox::Presenter {
public:
    messagebox::Answer show(const QString &, const QString &, messagebox::Buttons) override { return messagebox::Answer::Ok; }
};

} // namespace

// --start presses 开始 as soon as the main window is up, while the list of
// many account files is still loading on its thread. The run must see the
// whole list: it starts at the account the settings name, not at account 1
// of an empty list. (Every folder is missing, so no browser is needed.)
TEST(StartTest, AStartPressedWhileTheListLoadsRunsOnTheWholeList)
{
    testsupport::TempRunDir run;
    QuietPresenter presenter;
    messagebox::setPresenter(&presenter);
    constexpr int kAccounts = 3000;
    const QString missing = run.file("missing");
    for (int i = 0; i < kAccounts; ++i) {
        const QString id = QString::number(100 + i);
        // Through the JSON writer: a Windows path's backslashes need escapes.
        const QJsonObject account{{QStringLiteral("素材目录"), missing}, {QStringLiteral("缓存id"), id}};
        testsupport::writeAll(accounts::accountFilePath(id), QJsonDocument(account).toJson(QJsonDocument::Compact));
    }
    Form saved;
    declareControls(saved, mainWindowLayout());
    saved.setText("编辑框_账号序列", QString::number(kAccounts));
    ASSERT_TRUE(settings::saveSettings(saved));

    CommandLine line;
    line.headless = true;
    line.start = true;
    bool finished = false;
    {
        Application app(line);
        app.setExitProcess([] {});
        app.mainForm().setChecked("选择框_自动循环", false); // not a saved setting
        QObject::connect(&app.uploadJob(), &UploadJob::finishedByItself, &app, [&] { finished = true; });
        app.startUp();
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 120000));
        EXPECT_EQ(app.accountTable().rowCount(), kAccounts);
        EXPECT_EQ(app.mainForm().text("编辑框_账号序列"), QString::number(kAccounts + 1));
        EXPECT_EQ(app.accountTable().cell(kAccounts - 1, AccountTable::Status), "素材目录不存在");
    }
    messagebox::setPresenter(nullptr);
}
