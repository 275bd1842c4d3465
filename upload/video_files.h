#pragma once

#include <QString>
#include <QStringList>

class AccountTable;
class Form;

// The video files of an account's material folder: choosing the next one,
// its same-name cover, and what happens to both once published.
namespace videofiles {

// The file name of a path (after the last separator); without extension
// it ends before the last full stop. A path ending in a separator gives "".
QString fileNameOf(const QString &path, bool withExtension);
// The same-name cover: every ".mp4" turned into ".jpg" (exact letter case).
QString coverPathOf(const QString &videoPath);

// Every "*.mp4" (any letter case) in the folder, by name; with subfolders,
// the folder's own first, then each subfolder's, depth first.
QStringList listVideos(const QString &folder, bool withSubfolders);
// "*.jpg" directly in the folder.
QStringList listPictures(const QString &folder);

// True when the file exists and another program holds it for writing.
bool isFileLocked(const QString &path);

// The video the job uploads next from the folder, or "" (no video, locked,
// or gone). A name of more than 30 characters is cut to its first 30 first.
QString pickVideo(Form &form, AccountTable &table, const QString &folder);

// Deletes the video and its same-name cover, or moves both to the used
// folder under their own names (never over an existing file).
void disposeUsedVideo(Form &form, const QString &videoPath);

// With the random-cover option, copies a random picture of the cover folder
// beside the video as its same-name cover (an existing cover is kept).
void placeRandomCover(Form &form, const QString &videoPath);
// The picture to upload as cover: the same-name cover, or a random one from the folder.
QString chooseCoverFile(Form &form, const QString &videoPath);

} // namespace videofiles
