#include "upload/file_sync.h"

#include "upload/log.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {
// A new file's name lives in its folder: without syncing the folder too, a
// crash can leave the synced bytes with no name pointing at them.
bool syncFolderOf(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        qCWarning(lcUpload) << "cannot open the folder of" << path << "to sync it:" << std::strerror(errno);
        return false;
    }
    // Some file systems cannot sync a folder and say so with EINVAL; their
    // entries are durable with the file itself.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    if (!ok)
        qCWarning(lcUpload) << "cannot sync the folder of" << path << ":" << std::strerror(errno);
    ::close(fd);
    return ok;
}
} // namespace

bool syncToDisk(QFile &file)
{
    if (!file.flush()) {
        qCWarning(lcUpload) << "cannot flush" << file.fileName() << "--" << file.errorString();
        return false;
    }
    const int fd = file.handle();
    if (fd < 0 || ::fsync(fd) != 0) {
        qCWarning(lcUpload) << "cannot sync" << file.fileName() << "to disk:" << (fd < 0 ? "not open" : std::strerror(errno));
        return false;
    }
    return syncFolderOf(file.fileName());
}
