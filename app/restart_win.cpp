#include "app/restart_platform.h"

#include <QDir>
#include <QProcess>

#include <windows.h>

namespace restart {

QString shortPathOf(const QString &path)
{
    wchar_t buffer[255] = {};
    const DWORD length = GetShortPathNameW(path.toStdWString().c_str(), buffer, 255);
    if (length == 0 || length >= 255)
        return {};
    return QString::fromWCharArray(buffer, static_cast<qsizetype>(length));
}

bool runScriptHidden(const QString &scriptPath, const QString &workingDirectory)
{
    QProcess process;
    process.setProgram(QStringLiteral("cmd.exe"));
    process.setArguments({QStringLiteral("/c"), QDir::toNativeSeparators(scriptPath)});
    process.setWorkingDirectory(workingDirectory);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_NO_WINDOW;
    });
    return process.startDetached();
}

} // namespace restart
