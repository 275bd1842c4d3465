#include "app/desktop_shortcut_platform.h"

#include "base/atomic_file.h"

#include <QFile>
#include <QFileInfo>

namespace shortcut {

namespace {
// A value of a desktop entry holds no line breaks; the few escapes the
// format knows keep it one line.
QString entryValue(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'\r', QStringLiteral("\\r"));
    value.replace(u'\n', QStringLiteral("\\n"));
    value.replace(u'\t', QStringLiteral("\\t"));
    return value;
}

// The program of the Exec key, quoted as the format asks: inside double
// quotes, `"`, `` ` ``, `$` and `\` are escaped, and `%` is doubled.
QString execProgram(const QString &target)
{
    QString quoted;
    for (const QChar c : target) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}
} // namespace

bool writeLink(const QString &linkPath, const ShortcutRequest &request, const QString &workingDirectory, const QString &icon)
{
    QString exec = execProgram(request.target);
    if (!request.arguments.isEmpty())
        exec += u' ' + QString(request.arguments).replace(u'%', QStringLiteral("%%"));
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + entryValue(QFileInfo(linkPath).completeBaseName()) + u'\n';
    text += QStringLiteral("Exec=") + entryValue(exec) + u'\n';
    text += QStringLiteral("Path=") + entryValue(workingDirectory) + u'\n';
    text += QStringLiteral("Icon=") + entryValue(icon) + u'\n';
    if (!request.description.isEmpty())
        text += QStringLiteral("Comment=") + entryValue(request.description) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    if (!writeFileAtomic(linkPath, text.toUtf8()))
        return false;
    // Desktops start only launchers that are marked executable.
    QFile::setPermissions(linkPath, QFile::permissions(linkPath) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return true;
}

} // namespace shortcut
