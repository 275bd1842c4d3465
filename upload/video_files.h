#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

class AccountTable;
class Form;

// What a text file beside the video says about it: its title and its tags.
struct VideoMetadata {
    QString title;    // the first non-blank line, trimmed
    QStringList tags; // every "#word" of the other lines, without the '#', each once
};

// The video files of an account's material folder: choosing the next one,
// its same-name cover, and what happens to both once published.
namespace videofiles {

// The file name of a path (after the last separator); without extension
// it ends before the last full stop. A path ending in a separator gives "".
QString fileNameOf(const QString &path, bool withExtension);
// The same-name cover: every ".mp4" turned into ".jpg" (exact letter case).
QString coverPathOf(const QString &videoPath);

// The same-name metadata text: the video's name without its extension,
// then ".txt", in the video's folder.
QString metadataPathOf(const QString &videoPath);
// Title and tags of a metadata text.
VideoMetadata parseMetadata(QStringView text);
// The metadata beside the video (UTF-8 or GBK); an empty title when there
// is none, or it cannot be read or says nothing (the reason is logged).
VideoMetadata readMetadata(const QString &videoPath);

// Every "*.mp4" (any letter case) in the folder, by name; with subfolders,
// the folder's own first, then each subfolder's, depth first. The folders
// in `excluded` (and all below them) are left out.
QStringList listVideos(const QString &folder, bool withSubfolders, const QStringList &excluded = {});
// "*.jpg" directly in the folder.
QStringList listPictures(const QString &folder);

// True when the file exists and another program holds it for writing.
// Where the system cannot tell (no file leases), a file changed within the
// last two seconds counts as locked.
bool isFileLocked(const QString &path);
// The fallback test: the file changed within the last two seconds (or its
// time cannot be read).
bool wasJustModified(const QString &path);

// How many UTF-16 units the first `characters` characters of the text take;
// a character outside the Basic Multilingual Plane counts once and is never
// split.
qsizetype characterPrefixLength(QStringView text, qsizetype characters);

// Folders beside the used-video folder (beside the run directory's own
// files when no used folder is set): videos held until the user confirms
// them (待确认视频), and videos the studio refused (失败视频).
QString holdFolder(Form &form);
QString failedFolder(Form &form);
QString besideUsedFolder(Form &form, const QString &name);
// The used, hold and failed folders: never material.
QStringList setAsideFolders(Form &form);

// The video the job uploads next from the folder, or "" (no video, locked,
// or gone); "没有视频" goes to the status of the account (`accountId`, `row` its
// row hint; `row` itself when no id is given). A name of more than 30
// characters is cut to its first 30 first (kept when that cannot be done).
// Files in `passOver` are left out (published videos that could not be
// disposed of).
QString pickVideo(Form &form, AccountTable &table, const QString &folder, int row, const QSet<QString> &passOver = {},
                  const QString &accountId = {});

// Deletes the video with its same-name cover and metadata text, or moves
// them to the used folder (made when missing) under their own names (never over an existing
// file). True when the video is gone from its folder.
bool disposeUsedVideo(Form &form, const QString &videoPath);
// Moves the video with its same-name cover and metadata text into the
// folder (made when missing) under their own names, " (2)" and so on when
// taken.
bool moveWithCover(const QString &videoPath, const QString &folder);

// With the random-cover option, copies a random picture of the cover folder
// beside the video as its same-name cover (an existing cover is kept).
void placeRandomCover(Form &form, const QString &videoPath);
// The picture to upload as cover: the same-name cover, or a random one from the folder.
QString chooseCoverFile(Form &form, const QString &videoPath);

} // namespace videofiles
