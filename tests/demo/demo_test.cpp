// Runs the README's demo script headless on a fresh run directory, with the
// binaries of this build, and checks the simulator's ledger; then once more in
// the same directory, where the used folder already holds files of the same
// names.
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString runDemo(const QString &runDir)
{
    QProcess demo;
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start("bash", {testsupport::sourceDir() + "/scripts/demo.sh", "--run-dir", runDir, "--headless", "--build-dir", testsupport::buildDir(), "--port", "0"});
    EXPECT_TRUE(demo.waitForFinished(600000));
    const QString output = QString::fromUtf8(demo.readAll());
    EXPECT_EQ(demo.exitCode(), 0) << output.toStdString();
    return output;
}

struct Ledger
{
    int lines = 0;
    QSet<QString> hashes;
    QMap<QString, QSet<QString>> usersOfName; // file name -> users it went out under
};

Ledger readLedger(const QString &runDir)
{
    Ledger out;
    QFile file(runDir + "/studio-sim/published.jsonl");
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        ++out.lines;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        out.hashes.insert(entry.value("file_sha256").toString());
        out.usersOfName[entry.value("file_name").toString()].insert(entry.value("user").toString());
    }
    return out;
}

} // namespace

TEST(DemoScript, PublishesEveryDemoVideoOnceUnderItsUser)
{
    QTemporaryDir dir;
    const QString runDir = dir.path() + "/run";
    const QString output = runDemo(runDir);
    Ledger ledger = readLedger(runDir);
    EXPECT_EQ(ledger.lines, 4);
    EXPECT_EQ(ledger.hashes.size(), 4); // every video once
    ASSERT_EQ(ledger.usersOfName.size(), 4);
    for (auto it = ledger.usersOfName.cbegin(); it != ledger.usersOfName.cend(); ++it) {
        const bool firstAccount = it.key().endsWith("1.mp4") || it.key().endsWith("2.mp4");
        EXPECT_EQ(it.value(), QSet<QString>{firstAccount ? "演示甲" : "demo-b"}) << it.key().toStdString();
    }
    // Used files were moved aside, none left in the account folders.
    EXPECT_EQ(QDir(runDir + "/已使用视频").entryList(QDir::Files).size(), 4);
    EXPECT_TRUE(QDir(runDir + "/videos/100").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(runDir + "/videos/101").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(output.contains("What the studio simulator received")) << output.toStdString();
    // The program's own account of its time reached the summary.
    EXPECT_TRUE(output.contains("run so far")) << output.toStdString();
    EXPECT_TRUE(output.contains("the waits the program prescribes")) << output.toStdString();

    // A second run makes clips of the same names: each goes out once and
    // lands beside the earlier one instead of staying to go out again.
    runDemo(runDir);
    ledger = readLedger(runDir);
    EXPECT_EQ(ledger.lines, 8);
    EXPECT_EQ(ledger.hashes.size(), 8);
    EXPECT_EQ(QDir(runDir + "/已使用视频").entryList(QDir::Files).size(), 8);
    EXPECT_TRUE(QDir(runDir + "/videos/100").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(runDir + "/videos/101").entryList(QDir::Files).isEmpty());
}
