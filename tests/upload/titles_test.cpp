// Titles from the title library and from a metadata text beside the video,
// end to end: real headless Chromium, the simulator, real MP4 clips.
#include "tests/upload/e2e_fixture.h"
#include "tests/support/test_main.h"

#include "browser/browser_library.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace {
QStringList titlesOf(const QList<QJsonObject> &entries)
{
    QStringList out;
    for (const QJsonObject &e : entries)
        out.append(e.value("title").toString());
    return out;
}

// Titles of the journal's published lines, in the order they were written.
QStringList journalTitles(const QString &journal)
{
    QStringList out;
    for (const QByteArray &line : testsupport::readAll(journal).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value("state").toString() == "published")
            out.append(o.value("title").toString());
    }
    return out;
}
} // namespace

TEST_F(UploadE2eTest, ALibraryInOrderGoesOnAcrossAccountsAndRestarts)
{
    startSimulator();
    for (const QString &id : {QString("100"), QString("101")}) {
        const QString folder = addAccount(id, "user" + id, m_run.file("videos/" + id));
        makeClip(folder + "/a.mp4");
        makeClip(folder + "/b.mp4");
    }
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setChecked("单选框5", true);
    m_form.setText("编辑框3", "  第一行\r\n\r\n第二行  \r\nthird line\n");

    ASSERT_TRUE(runUntilDone());
    const QStringList expected = {"第一行", "第二行", "third line", "第一行"};
    EXPECT_EQ(titlesOf(ledger()), expected);
    // The title typed is the one the journal keeps.
    EXPECT_EQ(journalTitles(m_run.file("data/publish-journal.jsonl")), expected);

    // As after a restart: a new job, one more video, the kept position.
    m_job = std::make_unique<UploadJob>(m_form, m_table, BrowserLibrary::instance());
    makeClip(m_run.file("videos/100/c.mp4"));
    m_form.setText("开始", "开始");
    m_form.setText("编辑框_账号序列", "1");
    m_form.setText("编辑框_单账号上传", "1");
    ASSERT_TRUE(runUntilDone());
    const QList<QJsonObject> entries = ledger();
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries.last().value("title").toString(), "第二行");
}

TEST_F(UploadE2eTest, AMetadataTextTitlesTheVideoAndTravelsWithIt)
{
    startSimulator();
    const QString folder = addAccount("100", "writer", m_run.file("videos/100"));
    makeClip(folder + "/clip.mp4");
    testsupport::writeAll(folder + "/clip.txt", QStringLiteral("\r\n海边的一天\r\n#旅行 #美食\r\n").toUtf8());
    m_form.setText("编辑框_单账号上传", "1");
    m_form.setText("编辑框_标题前", "【前】");
    m_form.setText("编辑框_标题后", "#后");
    m_form.setChecked("单选框5", true);
    m_form.setText("编辑框3", "库里的标题");
    const QString used = m_run.file("used");
    m_form.setChecked("单选框_移动", true);
    m_form.setText("编辑框_使用过视频目录", used);

    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(titlesOf(ledger()), QStringList{"【前】海边的一天#后"});
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QFile::exists(used + "/clip.mp4"));
    EXPECT_EQ(testsupport::readAll(used + "/clip.txt"), QStringLiteral("\r\n海边的一天\r\n#旅行 #美食\r\n").toUtf8());
}
