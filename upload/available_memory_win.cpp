#include "upload/available_memory.h"

#include "upload/log.h"

#include <QDebug>

#include <windows.h>

qint64 availableMemoryMb()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) {
        qCWarning(lcUpload) << "GlobalMemoryStatusEx failed, error" << static_cast<qulonglong>(::GetLastError());
        return -1;
    }
    return static_cast<qint64>(status.ullAvailPhys / (1024 * 1024));
}
