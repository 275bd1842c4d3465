#pragma once

#include <QByteArrayView>
#include <QString>

// Replaces a whole file at once: readers see the old content or the new one,
// never a half-written file, even when the process dies or the disk is full.
bool writeFileAtomic(const QString &path, QByteArrayView content);
