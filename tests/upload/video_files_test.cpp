#include "accounts/account_table.h"
#include "form/form.h"
#include "form/window_layout.h"
#include "upload/video_files.h"
#include "base/gbk.h"
#include "tests/support/test_support.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

using namespace videofiles;

namespace {
class VideoFilesTest : public ::testing::Test {
protected:
    VideoFilesTest()
    {
        declareControls(form, mainWindowLayout());
        table.appendRow({"1"});
        currentRow = 0;
        form.setChecked("单选框_选择视频_顺序", true);
    }
    QString make(const QString &relative, const QByteArray &bytes = "video")
    {
        testsupport::writeAll(run.file(relative), bytes);
        return run.file(relative);
    }

    testsupport::TempRunDir run;
    Form form;
    AccountTable table;
};
} // namespace

TEST_F(VideoFilesTest, NamesTitlesAndCovers)
{
    EXPECT_EQ(fileNameOf("/v/旅行.mp4", false), "旅行");
    EXPECT_EQ(fileNameOf("C:\\v\\a.b.mp4", true), "a.b.mp4");
    EXPECT_EQ(fileNameOf("C:\\v\\a.b.mp4", false), "a.b");
    EXPECT_EQ(fileNameOf("/v/dir/", false), "");
    EXPECT_EQ(fileNameOf("noext", false), "noext");
    EXPECT_EQ(coverPathOf("/v/x.mp4"), "/v/x.jpg");
    EXPECT_EQ(coverPathOf("/v/x.MP4"), "/v/x.MP4");
    form.setChecked("单选框_本地封面", true);
    EXPECT_EQ(chooseCoverFile(form, "/v/x.MP4"), "/v/x.MP4");
}

TEST_F(VideoFilesTest, MetadataTextGivesTitleAndTags)
{
    const VideoMetadata parsed = parseMetadata(u"\r\n  \r\n  去海边 #不是标签  \r\n#旅行 #美食\r\n正文 #旅行 #夜景\n");
    EXPECT_EQ(parsed.title, "去海边 #不是标签");
    EXPECT_EQ(parsed.tags, (QStringList{"旅行", "美食", "夜景"}));

    EXPECT_EQ(metadataPathOf(run.file("m/clip.mp4")), run.file("m/clip.txt"));
    make("m/clip.txt", gbk::encode(u"周末出游\r\n#旅行\r\n"));
    const VideoMetadata read = readMetadata(run.file("m/clip.mp4"));
    EXPECT_EQ(read.title, "周末出游");
    EXPECT_EQ(read.tags, QStringList{"旅行"});
    make("m/blank.txt", "\r\n  \r\n");
    EXPECT_TRUE(readMetadata(run.file("m/blank.mp4")).title.isEmpty());
}

TEST_F(VideoFilesTest, ListingFindsAnyCaseOwnFilesFirstThenSubfolders)
{
    make("m/b.mp4");
    make("m/A.MP4");
    make("m/notes.txt");
    make("m/sub/c.mp4");
    make("m/sub/deeper/d.mp4");
    make("m/a-sub/e.mp4");
    const QStringList flat = listVideos(run.file("m"), false);
    EXPECT_EQ(flat, (QStringList{run.file("m/A.MP4"), run.file("m/b.mp4")}));
    const QStringList deep = listVideos(run.file("m"), true);
    EXPECT_EQ(deep, (QStringList{run.file("m/A.MP4"), run.file("m/b.mp4"), run.file("m/a-sub/e.mp4"), run.file("m/sub/c.mp4"), run.file("m/sub/deeper/d.mp4")}));
    EXPECT_TRUE(listVideos(run.file("missing"), true).isEmpty());
    EXPECT_TRUE(listVideos("", true).isEmpty());
}

TEST_F(VideoFilesTest, AnEmptyFolderSaysSoInTheStatusBarAndTheRow)
{
    QDir().mkpath(run.file("empty"));
    EXPECT_EQ(pickVideo(form, table, run.file("empty"), 0), QString());
    EXPECT_EQ(form.partText("状态条1", 1), "视频素材目录没有视频");
    EXPECT_EQ(table.cell(0, AccountTable::Status), "没有视频");
}

TEST_F(VideoFilesTest, LongNamesAreCutToThirtyCharactersBeforeUpload)
{
    const QString thirty = QString(30, QChar(u'长'));
    make("m/" + thirty + "X.mp4");
    const QString picked = pickVideo(form, table, run.file("m"), 0);
    EXPECT_EQ(picked, run.file("m/" + thirty + ".mp4"));
    EXPECT_TRUE(QFile::exists(picked));
    // Exactly thirty stays as it is, also when a folder carries the same text.
    make(thirty + "/" + thirty + ".mp4");
    EXPECT_EQ(pickVideo(form, table, run.file(thirty), 0), run.file(thirty + "/" + thirty + ".mp4"));
    make(thirty + "X/" + thirty + "X.mp4");
    EXPECT_EQ(pickVideo(form, table, run.file(thirty + "X"), 0), run.file(thirty + "X/" + thirty + ".mp4"));
    // Characters outside the Basic Multilingual Plane count once and are
    // never cut in half (a half would become U+FFFD in the name and title).
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xAC"); // one character, two UTF-16 units
    QString twentyNine;
    for (int i = 0; i < 29; ++i)
        twentyNine += i % 2 ? QString(u'片') : emoji;
    make("e/" + twentyNine + "长.mp4"); // exactly thirty characters
    EXPECT_EQ(pickVideo(form, table, run.file("e"), 0), run.file("e/" + twentyNine + "长.mp4"));
    QFile::remove(run.file("e/" + twentyNine + "长.mp4"));
    make("e/" + twentyNine + emoji + "尾巴.mp4");
    const QString cut = pickVideo(form, table, run.file("e"), 0);
    EXPECT_EQ(cut, run.file("e/" + twentyNine + emoji + ".mp4"));
    EXPECT_FALSE(cut.contains(QChar::ReplacementCharacter));
    // A cut that could be no file name: the video goes on under its own name,
    // on every attempt, instead of the folder sticking on it. (Windows holds
    // no such name in the first place.)
    const QString odd = QString(29, QChar(u'长')) + "?" + "tail.mp4";
    if (QFile::exists(make("odd/" + odd))) {
        EXPECT_EQ(pickVideo(form, table, run.file("odd"), 0), run.file("odd/" + odd));
        EXPECT_EQ(pickVideo(form, table, run.file("odd"), 0), run.file("odd/" + odd));
    }
}

TEST_F(VideoFilesTest, TheUsedHoldAndFailedFoldersAreNeverMaterial)
{
    form.setChecked("选择框_读取子文件夹", true);
    form.setText("编辑框_使用过视频目录", run.file("m/used"));
    make("m/used/old.mp4");
    make("m/待确认视频/held.mp4");
    make("m/失败视频/bad.mp4");
    make("m/sub/new.mp4");
    EXPECT_EQ(holdFolder(form), run.file("m/待确认视频"));
    EXPECT_EQ(failedFolder(form), run.file("m/失败视频"));
    EXPECT_EQ(pickVideo(form, table, run.file("m"), 0), run.file("m/sub/new.mp4"));
    // The used folder is the material folder itself: nothing there is material.
    form.setText("编辑框_使用过视频目录", run.file("m/sub"));
    EXPECT_EQ(listVideos(run.file("m/sub"), true, setAsideFolders(form)), QStringList());
    // No used folder: hold and failed folders sit in the run directory.
    form.setText("编辑框_使用过视频目录", "");
    EXPECT_EQ(holdFolder(form), run.file("待确认视频"));
}

// A file still being written is passed over for the next one, never for
// good; a read-only file is no writer's; a named pipe is no video.
TEST_F(VideoFilesTest, AFileHeldOpenForWritingIsPassedOverForTheNext)
{
    const QString video = make("m/a.mp4");
    const QString next = make("m/b.mp4");
    EXPECT_FALSE(isFileLocked(video));
    EXPECT_FALSE(isFileLocked(run.file("m/missing.mp4")));
    QProcess writer; // another process, as a program still writing the video
    writer.start(TOLVAR_HOLD_FILE_BIN, {QDir::toNativeSeparators(video)});
    ASSERT_TRUE(writer.waitForReadyRead(10000)) << writer.errorString().toStdString();
    EXPECT_TRUE(isFileLocked(video));
    EXPECT_EQ(pickVideo(form, table, run.file("m"), 0), next);
    EXPECT_EQ(table.cell(0, AccountTable::Status), "视频被占用，已跳过：a.mp4");
    writer.closeWriteChannel();
    ASSERT_TRUE(writer.waitForFinished(10000));
    EXPECT_FALSE(isFileLocked(video));
    EXPECT_EQ(pickVideo(form, table, run.file("m"), 0), video);
    ASSERT_TRUE(QFile::setPermissions(video, QFileDevice::ReadOwner | QFileDevice::ReadUser));
    EXPECT_FALSE(isFileLocked(video));
    EXPECT_EQ(pickVideo(form, table, run.file("m"), 0), video);
#ifndef Q_OS_WIN
    // First in order; opening it would wait for a writer for good.
    ASSERT_EQ(::mkfifo(QFile::encodeName(run.file("m/0.mp4")).constData(), 0600), 0);
    EXPECT_EQ(listVideos(run.file("m"), false), (QStringList{video, next}));
    EXPECT_EQ(pickVideo(form, table, run.file("m"), 0), video);
#endif
}

#ifndef Q_OS_WIN
// The lease test must never end the program: a writer that opens the file
// while we hold the lease raises SIGIO, by default a fatal signal.
TEST_F(VideoFilesTest, TheLeaseTestSurvivesABreakAndFallsBackToTheFileTime)
{
    const QString video = make("m/a.mp4");
    EXPECT_FALSE(isFileLocked(video)); // installs the handler on first use
    ::raise(SIGIO);
    EXPECT_EQ(pickVideo(form, table, run.file("m"), 0), video);
    // Where no lease can be had, a file that just changed counts as locked.
    EXPECT_TRUE(wasJustModified(video));
    QFile file(video);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-10), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_FALSE(wasJustModified(video));
    EXPECT_TRUE(wasJustModified(run.file("m/missing.mp4")));
}
#endif

TEST_F(VideoFilesTest, UsedFilesAreDeletedOrMovedWithTheirCover)
{
    const QString a = make("m/a.mp4");
    make("m/a.jpg", "cover");
    disposeUsedVideo(form, a);
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_FALSE(QFile::exists(run.file("m/a.jpg")));

    const QString b = make("m/b.mp4");
    make("m/b.jpg", "cover");
    form.setChecked("单选框_移动", true);
    form.setText("编辑框_使用过视频目录", run.file("used"));
    make("used-is-a-file", "x");
    form.setText("编辑框_使用过视频目录", run.file("used-is-a-file"));
    EXPECT_FALSE(disposeUsedVideo(form, b)); // no folder can be had there: nothing moves
    EXPECT_TRUE(QFile::exists(b));
    form.setText("编辑框_使用过视频目录", run.file("used"));
    EXPECT_TRUE(disposeUsedVideo(form, b)); // a missing used folder is made
    make("used/c.mp4", "older");
    make("used/c (2).jpg", "older cover");
    const QString c = make("m/c.mp4", "newer");
    make("m/c.jpg", "newer cover");
    disposeUsedVideo(form, c); // never over an existing file, and never left behind to go out again
    EXPECT_TRUE(QFile::exists(run.file("used/b.mp4")));
    EXPECT_TRUE(QFile::exists(run.file("used/b.jpg")));
    EXPECT_EQ(testsupport::readAll(run.file("used/c.mp4")), "older");
    EXPECT_EQ(testsupport::readAll(run.file("used/c (2).jpg")), "older cover");
    EXPECT_EQ(testsupport::readAll(run.file("used/c (3).mp4")), "newer");
    EXPECT_EQ(testsupport::readAll(run.file("used/c (3).jpg")), "newer cover");
    EXPECT_FALSE(QFile::exists(c));

    const QString d = make("m/d.mp4");
    form.setText("编辑框_使用过视频目录", "");
    disposeUsedVideo(form, d); // an empty used folder never means the root
    EXPECT_TRUE(QFile::exists(d));
}

TEST_F(VideoFilesTest, RandomCoverIsCopiedBesideTheVideoWithoutOverwriting)
{
    make("covers/p1.jpg", "p1");
    form.setText("编辑框_随机封面目录", run.file("covers"));
    const QString v = make("m/v.mp4");
    placeRandomCover(form, v); // option off
    EXPECT_FALSE(QFile::exists(run.file("m/v.jpg")));
    form.setChecked("单选框_本地随机封面", true);
    placeRandomCover(form, v);
    EXPECT_EQ(testsupport::readAll(run.file("m/v.jpg")), "p1");
    make("covers/p1.jpg", "changed");
    placeRandomCover(form, v);
    EXPECT_EQ(testsupport::readAll(run.file("m/v.jpg")), "p1");
    EXPECT_EQ(chooseCoverFile(form, v), run.file("covers/p1.jpg"));
}
