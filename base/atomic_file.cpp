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
    // A short write may sit in Qt's buffer until commit(), whose own flush
    // failing does not stop the rename: flush here, so a full disk is seen.
    if (file.write(content.data(), content.size()) != content.size() || !file.flush()) {
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
