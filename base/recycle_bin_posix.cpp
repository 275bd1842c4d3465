#include "base/recycle_bin.h"

#include <QDebug>
#include <QFile>

namespace recyclebin {

bool moveToRecycleBin(const QString &path)
{
    if (QFile::moveToTrash(path))
        return true;
    qWarning() << "recycle bin: could not move" << path << "to the trash";
    return false;
}

} // namespace recyclebin
