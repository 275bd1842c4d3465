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
    // QProcess quotes an argument only when it holds a space, and cmd /c
    // then drops those quotes again when the path holds & ^ ( ) and the
    // like. With /s cmd always takes off just the outer pair, so the path
    // stays quoted for it (a Windows path can hold no quote of its own).
    QProcess process;
    process.setProgram(QStringLiteral("cmd.exe"));
    process.setNativeArguments(QStringLiteral("/s /c \"\"") + QDir::toNativeSeparators(scriptPath) + QStringLiteral("\"\""));
    process.setWorkingDirectory(workingDirectory);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_NO_WINDOW;
    });
    return process.startDetached();
}

} // namespace restart
