#include "app/restart_platform.h"

#include <QProcess>

namespace restart {

QString shortPathOf(const QString &path)
{
    return path;
}

bool runScriptHidden(const QString &scriptPath, const QString &workingDirectory)
{
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {scriptPath}, workingDirectory);
}

} // namespace restart
