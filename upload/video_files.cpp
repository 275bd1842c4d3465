#include "upload/video_files.h"

#include "accounts/account_table.h"
#include "base/gbk.h"
#include "base/run_directory.h"
#include "form/form.h"
#include "upload/delay_wait.h"
#include "upload/log.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace videofiles {

namespace {

QStringList filesIn(const QString &folder, const QString &pattern)
{
    QDir dir(folder);
    dir.setNameFilters({pattern});
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    QStringList out;
    // Regular files only: a named pipe called "x.mp4" would hold whoever
    // opens it for good (the system entries Windows marks are files).
    for (const QFileInfo &info : dir.entryInfoList())
        if (info.isFile())
            out.append(QDir::toNativeSeparators(info.absoluteFilePath()));
    return out;
}

// The folder in one comparable form (absolute, clean, letter case folded
// where the file system folds it).
QString folderKey(const QString &folder)
{
    const QFileInfo info(folder);
    QString key = QDir::cleanPath(info.exists() ? info.canonicalFilePath() : info.absoluteFilePath());
#ifdef Q_OS_WIN
    key = key.toLower();
#endif
    return key;
}

void collectVideos(const QString &folder, bool withSubfolders, const QSet<QString> &excluded, QStringList &out, int depth)
{
    if (excluded.contains(folderKey(folder)))
        return;
    out.append(filesIn(folder, QStringLiteral("*.mp4")));
    if (!withSubfolders || depth > 64)
        return;
    QDir dir(folder);
    const QFileInfoList subfolders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &sub : subfolders) {
        if (sub.isSymLink())
            continue; // a link back up the tree would never end
        processPendingEvents();
        collectVideos(sub.absoluteFilePath(), true, excluded, out, depth + 1);
    }
}

QString randomEntry(const QStringList &entries)
{
    return entries.at(static_cast<int>(QRandomGenerator::global()->bounded(static_cast<quint32>(entries.size()))));
}

bool isUsableFileName(const QString &name)
{
    static const QString forbidden = QStringLiteral("?/\\<>*|:\"");
    if (name.isEmpty())
        return false;
    for (QChar c : name)
        if (forbidden.contains(c))
            return false;
    return true;
}

// Cuts a file name of more than 30 characters to its first 30, in place;
// returns the path to go on with.
QString shortenLongName(const QString &path)
{
    const QString stem = fileNameOf(path, false);
    const qsizetype cut = characterPrefixLength(stem, 30);
    if (cut == stem.size())
        return path;
    const QFileInfo info(path);
    const QString extension = fileNameOf(path, true).mid(stem.size());
    const QString newName = stem.left(cut) + extension;
    // Only the file name changes: a folder whose name holds the same text stays as it is.
    const QString newPath = QDir::toNativeSeparators(info.absolutePath() + u'/' + newName);
    // When no rename takes place the video goes on under its own name: a
    // folder must never get stuck on a name it cannot shorten.
    if (!QDir::isAbsolutePath(newPath) || !isUsableFileName(newName)) {
        qCWarning(lcUpload) << "the long name" << path << "cannot be cut to a usable file name; it stays";
        return path;
    }
    QFile file(path);
    if (!file.rename(newPath)) {
        qCWarning(lcUpload) << "cannot shorten" << path << "to" << newName << "--" << file.errorString() << "; it stays";
        return path;
    }
    return newPath;
}

#ifndef Q_OS_WIN
void ignoreLeaseBreak(int)
{
}

// A writer opening the file while we hold the lease sends us SIGIO, whose
// default action ends the process. Its handler does nothing (a handler, not
// SIG_IGN, so that browsers started later do not inherit an ignored signal);
// one somebody else installed stays.
void keepSigioHarmless()
{
    static const bool done = [] {
        struct sigaction current = {};
        if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO)) {
            struct sigaction action = {};
            action.sa_handler = ignoreLeaseBreak;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(SIGIO, &action, nullptr);
        }
        return true;
    }();
    (void)done;
}
#endif

} // namespace

qsizetype characterPrefixLength(QStringView text, qsizetype characters)
{
    qsizetype i = 0;
    for (qsizetype n = 0; n < characters && i < text.size(); ++n)
        i += (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    return i;
}

bool wasJustModified(const QString &path)
{
    const QFileInfo info(path);
    const QDateTime modified = info.lastModified();
    if (!modified.isValid())
        return true;
    // Two seconds, not one: some file systems keep the time in steps of two.
    return modified.msecsTo(QDateTime::currentDateTime()) < 2000;
}

QString fileNameOf(const QString &path, bool withExtension)
{
    const qsizetype slash = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    const QString name = path.mid(slash + 1);
    if (name.isEmpty() || withExtension)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString coverPathOf(const QString &videoPath)
{
    QString cover = videoPath;
    return cover.replace(QStringLiteral(".mp4"), QStringLiteral(".jpg"));
}

QString metadataPathOf(const QString &videoPath)
{
    const QString name = fileNameOf(videoPath, true);
    return videoPath.left(videoPath.size() - name.size()) + fileNameOf(videoPath, false) + QStringLiteral(".txt");
}

VideoMetadata parseMetadata(QStringView text)
{
    VideoMetadata metadata;
    static const QRegularExpression tag(QStringLiteral("#([^\\s#]+)"));
    bool titled = false;
    for (QStringView line : text.split(u'\n')) {
        line = line.trimmed();
        if (!titled) {
            titled = !line.isEmpty();
            metadata.title = line.toString();
            continue;
        }
        for (auto it = tag.globalMatch(line.toString()); it.hasNext();) {
            const QString word = it.next().captured(1);
            if (!metadata.tags.contains(word))
                metadata.tags.append(word);
        }
    }
    return metadata;
}

VideoMetadata readMetadata(const QString &videoPath)
{
    // Plenty for a title and tags; a huge file is no metadata text.
    constexpr qint64 kMaxBytes = 1024 * 1024;
    const QString path = metadataPathOf(videoPath);
    const QFileInfo info(path);
    if (path == videoPath || !info.exists())
        return {};
    // Regular files only: a named pipe would hold the lane for good.
    if (!info.isFile()) {
        qCWarning(lcUpload) << "the metadata" << path << "is no regular file; it is ignored";
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload) << "cannot read the metadata" << path << "--" << file.errorString() << "; it is ignored";
        return {};
    }
    if (file.size() > kMaxBytes)
        qCWarning(lcUpload) << "the metadata" << path << "is" << file.size() << "bytes; only its first" << kMaxBytes << "are read";
    const VideoMetadata metadata = parseMetadata(gbk::decodeUtf8OrGbk(file.read(kMaxBytes)));
    if (metadata.title.isEmpty())
        qCWarning(lcUpload) << "the metadata" << path << "holds no title; it is ignored";
    return metadata;
}

QStringList listVideos(const QString &folder, bool withSubfolders, const QStringList &excluded)
{
    QSet<QString> keys;
    for (const QString &e : excluded)
        if (!e.isEmpty())
            keys.insert(folderKey(e));
    QStringList out;
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        collectVideos(folder, withSubfolders, keys, out, 0);
    return out;
}

QString holdFolder(Form &form)
{
    return besideUsedFolder(form, QStringLiteral("待确认视频"));
}

QString failedFolder(Form &form)
{
    return besideUsedFolder(form, QStringLiteral("失败视频"));
}

QString besideUsedFolder(Form &form, const QString &name)
{
    QString used = form.text(QStringLiteral("编辑框_使用过视频目录"));
    while (used.endsWith(u'/') || used.endsWith(u'\\'))
        used.chop(1);
    const QString parent = used.isEmpty() ? rundir::path() : QFileInfo(used).absolutePath();
    return QDir::toNativeSeparators(parent + u'/' + name);
}

QStringList setAsideFolders(Form &form)
{
    return {form.text(QStringLiteral("编辑框_使用过视频目录")), holdFolder(form), failedFolder(form)};
}

QStringList listPictures(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    return filesIn(folder, QStringLiteral("*.jpg"));
}

bool isFileLocked(const QString &path)
{
    if (!QFileInfo::exists(path))
        return false;
#ifdef Q_OS_WIN
    // Read access that shares only reading is refused while another program
    // writes the file. Only that refusal means locked: a read-only file, an
    // access rule or a long path is no writer, and the upload says what it
    // meets there.
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            return true;
        qCInfo(lcUpload) << "cannot open" << path << "to see whether it is in use -- error" << error << "; taken as free";
        return false;
    }
    CloseHandle(h);
    return false;
#else
    // A read lease is refused while any process has the file open for writing.
    // Never blocking: whatever the name, no open may wait on the file.
    keepSigioHarmless();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        qCInfo(lcUpload) << "cannot open" << path << "to see whether it is in use --" << qt_error_string(errno);
        return true;
    }
    bool locked = false;
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN) {
        locked = true;
    } else {
        // No leases here (network and FUSE mounts; a file of another user):
        // a file that changed a moment ago may still be being written.
        const int error = errno;
        locked = wasJustModified(path);
        qCDebug(lcUpload) << "no lease on" << path << "--" << qt_error_string(error) << "; judged by its time:" << (locked ? "locked" : "free");
    }
    ::close(fd);
    return locked;
#endif
}

QString pickVideo(Form &form, AccountTable &table, const QString &folder, int row, const QSet<QString> &passOver, const QString &accountId)
{
    // Used, held and failed videos are never material again, wherever their folders are.
    QStringList videos = listVideos(folder, form.isChecked(QStringLiteral("选择框_读取子文件夹")), setAsideFolders(form));
    videos.removeIf([&passOver](const QString &video) { return passOver.contains(video); });
    if (videos.isEmpty()) {
        form.setPartText(QStringLiteral("状态条1"), 1, QStringLiteral("视频素材目录没有视频"));
        // Into the account's own row, wherever a reload has put it by now.
        if (accountId.isEmpty())
            table.setCell(row, AccountTable::Status, QStringLiteral("没有视频"));
        else
            table.setCellOf(accountId, row, AccountTable::Status, QStringLiteral("没有视频"));
        return {};
    }
    const bool random = form.isChecked(QStringLiteral("单选框_选择视频_随机"));
    // A file another program still writes is passed over for this pick, and
    // the next one goes: a file that stays locked never holds the account.
    while (!videos.isEmpty()) {
        const QString chosen = random ? randomEntry(videos) : videos.first();
        videos.removeOne(chosen);
        if (isFileLocked(chosen)) {
            qCInfo(lcUpload) << "passed over" << chosen << "-- another program has it open";
            const QString text = QStringLiteral("视频被占用，已跳过：%1").arg(fileNameOf(chosen, true));
            if (accountId.isEmpty())
                table.setCell(row, AccountTable::Status, text);
            else
                table.setCellOf(accountId, row, AccountTable::Status, text);
            continue;
        }
        const QString path = shortenLongName(chosen);
        if (QFileInfo::exists(path))
            return path;
        qCInfo(lcUpload) << "the video" << chosen << "went away while it was picked";
    }
    return {};
}

bool disposeUsedVideo(Form &form, const QString &videoPath)
{
    const QString cover = coverPathOf(videoPath);
    bool gone = true;
    const auto remove = [&gone](const QString &path) {
        QFile file(path);
        if (file.exists() && !file.remove()) {
            qCWarning(lcUpload) << "cannot delete the used file" << path << "--" << file.errorString();
            gone = false;
        }
    };
    if (form.isChecked(QStringLiteral("单选框_删除"))) {
        remove(videoPath);
        if (cover != videoPath)
            remove(cover);
        const QString metadata = metadataPathOf(videoPath);
        if (metadata != videoPath && QFileInfo(metadata).isFile())
            remove(metadata);
        return gone;
    }
    const QString used = form.text(QStringLiteral("编辑框_使用过视频目录"));
    // A folder deleted or a drive unplugged since it was chosen is made
    // again; only one that cannot be had keeps the video where it is.
    if (used.isEmpty() || (!QFileInfo(used).isDir() && !QDir().mkpath(used))) {
        qCWarning(lcUpload) << "the used video" << videoPath << "stays where it is: the used-video folder" << used << "is no folder and cannot be made";
        return false;
    }
    return moveWithCover(videoPath, used);
}

bool moveWithCover(const QString &videoPath, const QString &folder)
{
    // A folder often holds a file of the same name already (another
    // account's "1.mp4", an earlier run's clip). Never over it, and never
    // leave the video behind either: it would be published again on the next
    // attempt. The video goes in as "name (2).mp4" and so on, its cover and
    // its metadata text beside it under the same name.
    QDir().mkpath(folder);
    const QString base = fileNameOf(videoPath, false);
    const QString videoExtension = fileNameOf(videoPath, true).mid(base.size());
    struct Companion {
        QString path;
        QString extension;
        const char *what;
    };
    QList<Companion> companions;
    const auto add = [&](const QString &path, const char *what) {
        companions.append({path, fileNameOf(path, true).mid(fileNameOf(path, false).size()), what});
    };
    const QString cover = coverPathOf(videoPath);
    if (cover != videoPath && QFileInfo::exists(cover))
        add(cover, "cover");
    const QString metadata = metadataPathOf(videoPath);
    if (metadata != videoPath && QFileInfo(metadata).isFile())
        add(metadata, "metadata text");
    const auto taken = [&](const QString &name) {
        if (QFileInfo::exists(folder + u'/' + name + videoExtension))
            return true;
        return std::any_of(companions.cbegin(), companions.cend(), [&](const Companion &c) { return QFileInfo::exists(folder + u'/' + name + c.extension); });
    };
    QString name = base;
    for (int n = 2; taken(name) && n < 10000; ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    QFile video(videoPath);
    if (!video.rename(QDir::toNativeSeparators(folder + u'/' + name + videoExtension))) {
        qCWarning(lcUpload) << "cannot move the video" << videoPath << "into" << folder << "--" << video.errorString();
        return false;
    }
    for (const Companion &c : companions) {
        QFile file(c.path);
        if (!file.rename(QDir::toNativeSeparators(folder + u'/' + name + c.extension)))
            qCWarning(lcUpload) << "cannot move the" << c.what << c.path << "into" << folder << "--" << file.errorString();
    }
    return true;
}

void placeRandomCover(Form &form, const QString &videoPath)
{
    if (!form.isChecked(QStringLiteral("单选框_本地随机封面")))
        return;
    const QStringList pictures = listPictures(form.text(QStringLiteral("编辑框_随机封面目录")));
    const QString cover = coverPathOf(videoPath);
    if (pictures.isEmpty() || cover == videoPath || QFileInfo::exists(cover))
        return;
    const QString picture = randomEntry(pictures);
    QFile source(picture);
    if (!source.copy(cover))
        qCWarning(lcUpload) << "cannot copy the cover" << picture << "to" << cover << "--" << source.errorString();
}

QString chooseCoverFile(Form &form, const QString &videoPath)
{
    if (form.isChecked(QStringLiteral("单选框_本地封面")))
        return coverPathOf(videoPath);
    const QStringList pictures = listPictures(form.text(QStringLiteral("编辑框_随机封面目录")));
    return pictures.isEmpty() ? QString() : randomEntry(pictures);
}

} // namespace videofiles
