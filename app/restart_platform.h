#pragma once

#include <QString>

namespace restart {
// The 8.3 form of a path on Windows (the path itself when it has none, and
// on other systems), so the script needs no quoting rules for spaces.
QString shortPathOf(const QString &path);
// Starts the script with a hidden window, without waiting for it.
bool runScriptHidden(const QString &scriptPath, const QString &workingDirectory);
} // namespace restart
