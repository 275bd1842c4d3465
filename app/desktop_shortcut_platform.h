#pragma once

#include "app/desktop_shortcut.h"

namespace shortcut {
// Writes the link file itself; the platform's part of createDesktopShortcut.
bool writeLink(const QString &linkPath, const ShortcutRequest &request, const QString &workingDirectory, const QString &icon);
} // namespace shortcut
