#include "base/recycle_bin.h"

#include "base/log.h"

#include <QDebug>
#include <QFile>

namespace recyclebin {

bool moveToRecycleBin(const QString &path)
{
    if (QFile::moveToTrash(path))
        return true;
    qCWarning(lcBase) << "recycle bin: could not move" << path << "to the trash";
    return false;
}

} // namespace recyclebin
