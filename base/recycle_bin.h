#pragma once

#include <QString>

namespace recyclebin {
// Moves a file to the recycle bin (the desktop's trash elsewhere), so that
// the user can still get it back. False when it stayed where it was; the
// reason goes to the log.
bool moveToRecycleBin(const QString &path);
} // namespace recyclebin
