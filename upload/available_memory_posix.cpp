#include "upload/available_memory.h"

#include "upload/log.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>

qint64 availableMemoryMb()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload) << "cannot read /proc/meminfo --" << meminfo.errorString();
        return -1;
    }
    // "MemAvailable:   12345678 kB"
    for (QByteArray line = meminfo.readLine(); !line.isEmpty(); line = meminfo.readLine()) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        bool ok = false;
        const qint64 kb = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
        if (ok)
            return kb / 1024;
        break;
    }
    qCWarning(lcUpload) << "/proc/meminfo has no readable MemAvailable line";
    return -1;
}
