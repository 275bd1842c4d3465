// One account, two videos, at the waits the program prescribes (no time scale).
#include "tests/upload/e2e_fixture.h"

#include <QDir>
#include <QElapsedTimer>

TEST_F(UploadE2eTest, PublishesAtFullScale)
{
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("TOLVAR_TIME_SCALE"));
    startSimulator();
    const QString folder = addAccount("100", "全速", m_run.file("videos/full"));
    makeClip(folder + "/整片一.mp4");
    makeClip(folder + "/整片二.mp4");
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setChecked("选择框_同步抖音", true);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(runUntilDone(300000));
    // The prescribed waits alone take well over twenty seconds per video.
    EXPECT_GT(timer.elapsed(), 40000);
    ASSERT_EQ(ledger().size(), 2);
    for (const QJsonObject &e : ledger()) {
        EXPECT_EQ(e.value("user").toString(), "全速");
        EXPECT_TRUE(e.value("sync").toBool());
    }
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(m_table.cell(0, AccountTable::PublishedToday), "2");
}
