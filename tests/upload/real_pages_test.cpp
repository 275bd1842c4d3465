// What a failed video leaves behind, the run report, and publishing under a
// locale that writes numbers with a decimal comma.
#include "tests/upload/e2e_fixture.h"

#include "accounts/account_table.h"
#include "upload/failure_evidence.h"
#include "upload/run_report.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QtEndian>

#include <gtest/gtest.h>

#include <clocale>

namespace {

// Width and height from a PNG's IHDR chunk; 0 x 0 when it is no PNG.
QSize pngSize(const QByteArray &png)
{
    if (png.size() < 24 || !png.startsWith("\x89PNG\r\n\x1a\n") || png.mid(12, 4) != "IHDR")
        return {};
    return QSize(int(qFromBigEndian<quint32>(png.constData() + 16)), int(qFromBigEndian<quint32>(png.constData() + 20)));
}

} // namespace

TEST_F(UploadE2eTest, UnderACommaDecimalLocaleClicksStillLand)
{
    startSimulator();
    const QString folder = addAccount("100", "uma", m_run.file("videos/u"));
    makeClip(folder + "/komma.mp4");
    m_form.setText("编辑框_单账号上传", "1");
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is missing (scripts/setup-debian.sh makes it)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // the locale is in force
    const bool done = runUntilDone();
    std::setlocale(LC_ALL, before.c_str());
    ASSERT_TRUE(done);
    ASSERT_EQ(ledger().size(), 1);
    EXPECT_EQ(ledger()[0].value("title").toString(), "komma");
}

TEST_F(UploadE2eTest, AFailedVideoLeavesAScreenshotAndItsReasonAndEveryAttemptAReportLine)
{
    startSimulator({"--stall-at", "30", "--upload-kbps", "64", "--stall-name", "stuck"});
    const QString folder = addAccount("100", "vera", m_run.file("videos/v"));
    makeClip(folder + "/a-fine.mp4");
    makeClip(folder + "/b-stuck.mp4");
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("放弃秒", "200"); // ten seconds of the scaled clock
    ASSERT_TRUE(runUntilDone());
    ASSERT_EQ(ledger().size(), 1);

    const QDir failures(evidence::failuresFolder());
    const QStringList texts = failures.entryList({"*_100_b-stuck.txt"}, QDir::Files);
    ASSERT_EQ(texts.size(), 1) << failures.entryList().join(", ").toStdString();
    const QString text = QString::fromUtf8(testsupport::readAll(failures.filePath(texts[0])));
    EXPECT_TRUE(text.contains("step: waiting for the upload to finish")) << text.toStdString();
    EXPECT_TRUE(text.contains("reason: its time limit of 200 s passed")) << text.toStdString();
    EXPECT_TRUE(text.contains("page: " + m_sim->origin() + "/upload")) << text.toStdString();
    EXPECT_TRUE(text.contains("last seen: 上传中")) << text.toStdString();
    const QSize shot = pngSize(testsupport::readAll(failures.filePath(QString(texts[0]).replace(".txt", ".png"))));
    // The window is half the screen's width and 0.8 of its height (960 x 864 here).
    EXPECT_EQ(shot.width(), 960);
    EXPECT_GT(shot.height(), 600);
    EXPECT_LE(shot.height(), 864);

    const QByteArray report = testsupport::readAll(runreport::reportPath(QDate::currentDate()));
    ASSERT_TRUE(report.startsWith("\xEF\xBB\xBFtime,account number,account id,nickname,video file,title,result,reason,seconds,wait seconds\r\n"));
    const QList<QByteArray> lines = report.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3); // the header, the publish, the failure
    EXPECT_TRUE(lines[1].contains(",1,100,vera,") && lines[1].contains("a-fine.mp4,a-fine,published,,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains("b-stuck.mp4,b-stuck,failed,\"its time limit of 200 s passed; the page last showed \"\"")) << lines[2].toStdString();
}

TEST(FailureEvidence, KeepsTwoHundredPairsAndAHundredMegabytesOldestFirst)
{
    testsupport::TempRunDir run;
    QDir().mkpath(evidence::failuresFolder());
    for (int i = 0; i < 205; ++i) {
        const QString stem = evidence::failuresFolder() + QStringLiteral("/20261209-08%1_100_v").arg(i, 4, 10, QLatin1Char('0'));
        testsupport::writeAll(stem + ".txt", "reason");
        testsupport::writeAll(stem + ".png", QByteArray(1000, 'p'));
    }
    evidence::prune();
    QStringList left = QDir(evidence::failuresFolder()).entryList({"*.txt"}, QDir::Files, QDir::Name);
    ASSERT_EQ(left.size(), 200);
    EXPECT_EQ(left.first(), "20261209-080005_100_v.txt"); // the five oldest went
    evidence::prune(200, 10 * 1006); // ten pairs of 1,006 bytes
    left = QDir(evidence::failuresFolder()).entryList({"*.txt"}, QDir::Files, QDir::Name);
    EXPECT_LE(left.size(), 10);
    EXPECT_EQ(left.last(), "20261209-080204_100_v.txt"); // the newest stays
}

TEST_F(UploadE2eTest, ARestlessStudioPageStillGetsEveryVideo)
{
    // Guide bubbles and toasts over the buttons, the form late, file inputs
    // hidden, the landing address by pushState.
    startSimulator({"--guide-bubble", "1500", "--cover-toast", "1500", "--late-form", "--push-landing", "--hidden-inputs"});
    const QString first = addAccount("100", "wes", m_run.file("videos/w"));
    const QString second = addAccount("101", "xia", m_run.file("videos/x"));
    for (const QString &folder : {first, second}) {
        makeClip(folder + "/1.mp4");
        makeClip(folder + "/2.mp4");
    }
    m_form.setText("编辑框_单账号上传", "2");
    m_form.setText("放弃秒", "2400");
    ASSERT_TRUE(runUntilDone(240000));
    QStringList users;
    for (const QJsonObject &entry : ledger())
        users << entry.value("user").toString();
    EXPECT_EQ(users, (QStringList{"wes", "wes", "xia", "xia"}));
}

TEST_F(UploadE2eTest, ALoginThatExpiresMidRunIsSeenAndTheAccountSkipped)
{
    startSimulator({"--login-expires-after", "1"});
    const QString folder = addAccount("100", "yan", m_run.file("videos/y"));
    makeClip(folder + "/1.mp4");
    makeClip(folder + "/2.mp4");
    makeClip(folder + "/3.mp4");
    m_form.setText("编辑框_单账号上传", "3");
    QList<bool> results;
    QObject::connect(m_job.get(), &UploadJob::videoFinished, m_job.get(), [&](int, const QString &, bool ok) { results.append(ok); },
                     Qt::DirectConnection);
    ASSERT_TRUE(runUntilDone());
    EXPECT_EQ(results, (QList<bool>{true, false})); // the third attempt of the round is skipped
    EXPECT_EQ(m_table.cell(0, AccountTable::Status), "未登录");
    EXPECT_EQ(ledger().size(), 1);
    EXPECT_TRUE(QFile::exists(folder + "/2.mp4"));
    EXPECT_TRUE(QFile::exists(folder + "/3.mp4"));
}
