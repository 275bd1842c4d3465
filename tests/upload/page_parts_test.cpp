// Tags, categories and scheduled publishing end to end: real headless
// Chromium, the simulator, real MP4 clips.
#include "tests/support/eventually.h"
#include "tests/upload/e2e_fixture.h"

#include "app/settings_file.h"
#include "browser/browser_library.h"
#include "form/window_layout.h"
#include "upload/category_choice.h"
#include "upload/page_check.h"

#include <QDir>
#include <QJsonArray>

namespace {

QStringList strings(const QJsonValue &array)
{
    QStringList out;
    for (const QJsonValue &v : array.toArray())
        out.append(v.toString());
    return out;
}

TEST_F(UploadE2eTest, MixedTagsTakeTheFixedOnesFirstThenRecommendedOnesWithinTheStudiosLimit)
{
    startSimulator();
    const QString folder = addAccount("100", "tags_user", m_run.file("videos/100"));
    makeClip(folder + "/海边.mp4");
    ASSERT_TRUE(m_form.isChecked("单选框_混合标签")); // as a fresh window has it
    m_form.setText("编辑框_固定标签", "原创+视频+#原创");
    m_form.setText("编辑框_混合标签个数", "4");
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 1);
    const QStringList first = strings(ledger().at(0).value("tags"));
    ASSERT_EQ(first.size(), 4) << first.join(' ').toStdString();
    EXPECT_EQ(first.mid(0, 2), QStringList({"原创", "视频"}));
    EXPECT_EQ(QSet<QString>(first.begin(), first.end()).size(), 4);

    // Twelve fixed tags and room for twenty: the studio takes ten.
    QStringList twelve;
    for (int i = 1; i <= 12; ++i)
        twelve << QStringLiteral("标签%1").arg(i);
    m_form.setText("编辑框_固定标签", twelve.join('+'));
    m_form.setText("编辑框_混合标签个数", "20");
    makeClip(folder + "/山间.mp4");
    m_form.setText("编辑框_账号序列", "1");
    m_form.setText("开始", "开始");
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 2);
    EXPECT_EQ(strings(ledger().at(1).value("tags")), twelve.mid(0, 10));
}

TEST_F(UploadE2eTest, RefreshedCategoriesAreChosenOnThePageAndSurviveARestart)
{
    startSimulator();
    const QString folder = addAccount("100", "category_user", m_run.file("videos/100"));
    makeClip(folder + "/分类.mp4");
    m_job->session().initBrowserLibrary(); // as the start-up does
    const QList<pageparts::Category> tree = readStudioCategories(m_job->session(), m_table, BrowserLibrary::instance(), 0);
    ASSERT_GE(tree.size(), 2);
    ASSERT_TRUE(categories::keepTree(tree));
    categories::fillFirstLevel(m_form, tree);
    ASSERT_EQ(m_form.comboItems("组合框_一级分类").size(), tree.size());
    EXPECT_EQ(m_form.comboItems("组合框_一级分类").at(1).value, tree.at(1).id);
    // The second of the tree and its last child, as a user picks them.
    m_form.setComboItems("组合框_一级分类", m_form.comboItems("组合框_一级分类"), 1);
    categories::fillSecondLevel(m_form, categories::keptTree());
    const QList<ComboItem> children = m_form.comboItems("组合框_二级分类");
    ASSERT_EQ(children.size(), tree.at(1).children.size());
    m_form.setComboItems("组合框_二级分类", children, static_cast<int>(children.size()) - 1);

    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(strings(ledger().at(0).value("category")), QStringList({tree.at(1).name, tree.at(1).children.last().name}));

    // Saved and read back by a window started afresh.
    ASSERT_TRUE(settings::saveSettings(m_form));
    Form restarted;
    declareControls(restarted, mainWindowLayout());
    settings::loadSettings(restarted);
    EXPECT_EQ(restarted.comboIndex("组合框_一级分类"), 1);
    EXPECT_EQ(restarted.comboItems("组合框_二级分类"), children);
    EXPECT_EQ(restarted.comboIndex("组合框_二级分类"), children.size() - 1);
}

TEST_F(UploadE2eTest, ScheduledVideosTakeTheAccountsNextListedTimesAcrossRestarts)
{
    startSimulator();
    const QString folder = addAccount("100", "schedule_user", m_run.file("videos/100"));
    for (const char *name : {"s1.mp4", "s2.mp4", "s3.mp4"})
        makeClip(folder + '/' + name);
    m_form.setChecked("选择框_定时发布", true);
    m_form.setText("编辑框_定时时间", "18:00, 08:00,12:00");
    m_form.setText("编辑框_单账号上传", "3");
    const QDateTime startedAt = QDateTime::currentDateTime();
    ASSERT_TRUE(runUntilDone());

    // The listed times from two hours ahead on, one after the other.
    QList<QDateTime> listed;
    for (QDate day = startedAt.date(); listed.size() < 4; day = day.addDays(1)) {
        for (const QTime t : {QTime(8, 0), QTime(12, 0), QTime(18, 0)}) {
            if (QDateTime(day, t) >= startedAt.addSecs(2 * 3600) && listed.size() < 4)
                listed.append(QDateTime(day, t));
        }
    }
    const auto at = [](const QJsonObject &e) { return QDateTime::fromString(e.value("scheduled_at").toString(), "yyyy-MM-ddTHH:mm"); };
    ASSERT_EQ(ledger().size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(at(ledger().at(i)), listed.at(i)) << i;
    EXPECT_TRUE(QDir(folder).entryList({"*.mp4"}, QDir::Files).isEmpty());

    // A new job, as after a restart, goes on after the last one.
    m_job = std::make_unique<UploadJob>(m_form, m_table, BrowserLibrary::instance());
    makeClip(folder + "/s4.mp4");
    m_form.setText("编辑框_账号序列", "1");
    m_form.setText("开始", "开始");
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 4);
    EXPECT_EQ(at(ledger().at(3)), listed.at(3));

    // A list the studio's window cannot take: a clear word, nothing at once.
    makeClip(folder + "/s5.mp4");
    m_form.setText("编辑框_定时时间", "25:00");
    m_form.setText("编辑框_账号序列", "1");
    m_form.setText("开始", "开始");
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(ledger().size(), 4);
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), QStringLiteral("定时发布时间格式不正确"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/s5.mp4"));
}

} // namespace
