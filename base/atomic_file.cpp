#include "base/atomic_file.h"

#include <QSaveFile>

bool writeFileAtomic(const QString &path, QByteArrayView content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(content.data(), content.size()) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
