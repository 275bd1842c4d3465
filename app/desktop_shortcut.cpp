#include "app/desktop_shortcut.h"

#include "app/log.h"
#include "app/desktop_shortcut_platform.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace shortcut {

namespace {
bool isNameSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

bool isTargetSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}
} // namespace

QString linkExtension()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".lnk");
#else
    return QStringLiteral(".desktop");
#endif
}

QString desktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString desktopLinkPath(const QString &name)
{
    QString linkName = name;
    const auto separator = std::find_if(linkName.crbegin(), linkName.crend(), isNameSeparator);
    if (separator != linkName.crend()) {
        // The base name of the last element, without its extension.
        const QString last = linkName.right(separator - linkName.crbegin());
        const qsizetype dot = last.lastIndexOf(u'.');
        linkName = dot < 0 ? last : last.left(dot);
    }
    if (!linkName.contains(linkExtension(), Qt::CaseInsensitive))
        linkName += linkExtension();
    return desktopFolder() + u'/' + linkName;
}

QString workingDirectoryOf(const QString &target)
{
    const auto separator = std::find_if(target.crbegin(), target.crend(), isTargetSeparator);
    if (separator == target.crend())
        return {};
    return target.left(target.size() - (separator - target.crbegin()));
}

QString derivedIcon(const QString &target)
{
#ifdef Q_OS_WIN
    if (QFileInfo(target).suffix().isEmpty())
        return QStringLiteral("SHELL32.dll,4");
    return target + QStringLiteral(",0");
#else
    Q_UNUSED(target);
    return QStringLiteral("application-x-executable");
#endif
}

} // namespace shortcut

bool createDesktopShortcut(const ShortcutRequest &request)
{
    const QString linkPath = shortcut::desktopLinkPath(request.name);
    if (QFileInfo::exists(linkPath))
        QFile::remove(linkPath);
    const QString workingDirectory = shortcut::workingDirectoryOf(request.target);
    if (workingDirectory.isEmpty()) {
        qCWarning(lcApp) << "no desktop shortcut: the target" << request.target << "has no folder";
        return false;
    }
    const QString icon = request.icon.isEmpty() ? shortcut::derivedIcon(request.target) : request.icon;
    if (!shortcut::writeLink(linkPath, request, workingDirectory, icon)) {
        qCWarning(lcApp) << "the desktop shortcut" << linkPath << "was not written";
        return false;
    }
    return true;
}

bool createDesktopShortcut(const QString &name, const QString &target)
{
    ShortcutRequest request;
    request.name = name;
    request.target = target;
    return createDesktopShortcut(request);
}
