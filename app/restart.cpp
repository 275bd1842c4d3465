#include "app/restart.h"

#include "app/log.h"
#include "app/restart_platform.h"
#include "base/atomic_file.h"
#include "base/gbk.h"
#include "base/run_directory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace restart {

namespace {
// One word for the POSIX shell: single quotes, with each ' written as '\''.
QString shellWord(const QString &text)
{
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

QString batchWord(const QString &text)
{
    return u'"' + text + u'"';
}
} // namespace

int pauseCount(int delaySeconds)
{
    return delaySeconds > 0 ? delaySeconds : 2;
}

QByteArray batchScriptText(const QString &programPath, const QStringList &arguments, int pauseCount)
{
    QString path = shortPathOf(QDir::toNativeSeparators(programPath)).trimmed();
    if (path.isEmpty())
        path = QDir::toNativeSeparators(programPath);
    // Built piece by piece: a path that happens to hold the placeholder text
    // of the template stays intact.
    QString start = QStringLiteral("start \"\" ") + batchWord(path);
    for (const QString &argument : arguments)
        start += u' ' + batchWord(argument);
    const QString text = QStringLiteral("@echo off \r\n")
        + QStringLiteral("@ping 127.0.0.1 -n ") + QString::number(pauseCount) + QStringLiteral(" >nul\r\n")
        + start + QStringLiteral("\r\n")
        + QStringLiteral("del Restart.bat");
    return gbk::encode(text);
}

QByteArray shellScriptText(const QString &programPath, const QStringList &arguments, int pauseCount)
{
    QString start = shellWord(programPath);
    for (const QString &argument : arguments)
        start += u' ' + shellWord(argument);
    const QString text = QStringLiteral("#!/bin/sh\n")
        + QStringLiteral("sleep ") + QString::number(pauseCount) + u'\n'
        + start + QStringLiteral(" >/dev/null 2>&1 &\n")
        + QStringLiteral("rm -f -- \"$0\"\n");
    return text.toUtf8();
}

QString scriptPath()
{
#ifdef Q_OS_WIN
    return rundir::join(u"Restart.bat");
#else
    return rundir::join(u"Restart.sh");
#endif
}

bool launchRestartScript(const QString &programPath, const QStringList &arguments, int pauseCount)
{
#ifdef Q_OS_WIN
    const QByteArray text = batchScriptText(programPath, arguments, pauseCount);
#else
    const QByteArray text = shellScriptText(programPath, arguments, pauseCount);
#endif
    const QString path = scriptPath();
    if (!writeFileAtomic(path, text))
        return false;
    if (!runScriptHidden(path, rundir::path())) {
        qCWarning(lcApp) << "the restart script" << path << "did not start";
        return false;
    }
    return true;
}

void restartProgram(int delaySeconds, const std::function<void()> &endProcess)
{
    const QString program = QCoreApplication::applicationFilePath();
    if (program.isEmpty() || !QFileInfo(program).isFile()) {
        qCWarning(lcApp) << "no restart: the program file" << program << "is not there";
        return;
    }
    qCInfo(lcApp) << "restarting" << program;
    if (!launchRestartScript(program, QCoreApplication::arguments().mid(1), pauseCount(delaySeconds)))
        return;
    if (endProcess)
        endProcess();
}

} // namespace restart
