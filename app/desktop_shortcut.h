#pragma once

#include <QString>

// A shortcut to a program on the user's desktop: a shell link (.lnk) on
// Windows, a launcher (.desktop) elsewhere.
struct ShortcutRequest {
    QString name;        // a bare name or a path, with or without the link extension
    QString target;      // full path of the program
    QString arguments;
    QString icon;        // empty: derived from the target
    int windowStyle = 0; // Windows only
    QString description;
    QString hotKey;      // Windows only, e.g. "CTRL+ALT+K"
};

namespace shortcut {

// ".lnk" on Windows, ".desktop" elsewhere.
QString linkExtension();
QString desktopFolder();

// Where the link of that name lies: a name with a folder keeps only its last
// element without extension; the link extension is added unless the name
// already holds it (in any case).
QString desktopLinkPath(const QString &name);

// The target's folder with a trailing separator; empty when the target has
// no folder (which includes an empty target).
QString workingDirectoryOf(const QString &target);

// The icon the link shows when none is given.
QString derivedIcon(const QString &target);

} // namespace shortcut

// Replaces the desktop link of that name. An existing link is always
// deleted first; with a target that has no folder (or none at all) no new
// link is made and the result is false. True when the link was written.
bool createDesktopShortcut(const ShortcutRequest &request);
// The common form: name and target only.
bool createDesktopShortcut(const QString &name, const QString &target);
