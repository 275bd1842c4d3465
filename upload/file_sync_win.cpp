#include "upload/file_sync.h"

#include "upload/log.h"

#include <QDebug>
#include <QFile>

#include <io.h>
#include <windows.h>

// NTFS journals the folder entry itself, so the file's own buffers are all
// there is to flush.
bool syncToDisk(QFile &file)
{
    if (!file.flush()) {
        qCWarning(lcUpload) << "cannot flush" << file.fileName() << "--" << file.errorString();
        return false;
    }
    const int fd = file.handle();
    const HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !::FlushFileBuffers(handle)) {
        qCWarning(lcUpload) << "cannot sync" << file.fileName() << "to disk, error" << static_cast<qulonglong>(::GetLastError());
        return false;
    }
    return true;
}
