// Runs the README's demo script headless on a fresh run directory, with the
// binaries of this build, and checks the simulator's ledger.
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(DemoScript, PublishesEveryDemoVideoOnceUnderItsUser)
{
    QTemporaryDir dir;
    const QString runDir = dir.path() + "/run";
    QProcess demo;
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start("bash", {testsupport::sourceDir() + "/scripts/demo.sh", "--run-dir", runDir, "--headless", "--build-dir", testsupport::buildDir(), "--port", "0"});
    ASSERT_TRUE(demo.waitForFinished(600000));
    const QString output = QString::fromUtf8(demo.readAll());
    ASSERT_EQ(demo.exitCode(), 0) << output.toStdString();

    QFile ledger(runDir + "/studio-sim/published.jsonl");
    ASSERT_TRUE(ledger.open(QIODevice::ReadOnly));
    QMap<QString, QString> userOfFile;
    int lines = 0;
    for (const QByteArray &line : ledger.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        ++lines;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        userOfFile.insert(entry.value("file_name").toString(), entry.value("user").toString());
    }
    EXPECT_EQ(lines, 4);
    ASSERT_EQ(userOfFile.size(), 4); // every video once
    for (auto it = userOfFile.cbegin(); it != userOfFile.cend(); ++it) {
        const bool firstAccount = it.key().endsWith("1.mp4") || it.key().endsWith("2.mp4");
        EXPECT_EQ(it.value(), firstAccount ? "演示甲" : "demo-b") << it.key().toStdString();
    }
    // Used files were moved aside, none left in the account folders.
    EXPECT_EQ(QDir(runDir + "/已使用视频").entryList(QDir::Files).size(), 4);
    EXPECT_TRUE(QDir(runDir + "/videos/100").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(runDir + "/videos/101").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(output.contains("What the studio simulator received")) << output.toStdString();
    // The program's own account of its time reached the summary.
    EXPECT_TRUE(output.contains("run so far")) << output.toStdString();
    EXPECT_TRUE(output.contains("the waits the program prescribes")) << output.toStdString();
}
