#include "base/atomic_file.h"

#include "base/log.h"

#include <QSaveFile>

bool writeFileAtomic(const QString &path, QByteArrayView content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcBase) << "cannot write" << path << "--" << file.errorString();
        return false;
    }
    if (file.write(content.data(), content.size()) != content.size()) {
        qCWarning(lcBase) << "writing" << path << "failed; the old file stays --" << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcBase) << "cannot replace" << path << "; the old file stays --" << file.errorString();
        return false;
    }
    return true;
}
