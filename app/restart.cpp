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

// One word as the started program's C runtime splits its command line: in
// quotes, each quote written \" and the backslashes before a quote doubled.
QString argvWord(const QString &text)
{
    QString word(1, u'"');
    qsizetype backslashes = 0;
    for (const QChar c : text) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        word += QString(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        word += c;
        backslashes = 0;
    }
    word += QString(backslashes * 2, u'\\');
    word += u'"';
    return word;
}

// A command line as a line of a batch file. cmd expands % even inside
// quotes, so it is doubled everywhere; where the escaped quotes of a word
// leave cmd outside quotes, its own special characters get a ^.
QString batchLine(const QString &line)
{
    QString out;
    bool quoted = false;
    for (const QChar c : line) {
        if (c == u'"')
            quoted = !quoted;
        if (c == u'%') {
            out += QStringLiteral("%%");
            continue;
        }
        if (!quoted && QStringView(u"^&|<>()").contains(c))
            out += u'^';
        out += c;
    }
    return out;
}
} // namespace

QStringList restartArguments(const QStringList &arguments, const QString &runDirectory)
{
    QStringList out = arguments;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i] == u"--run-dir" && i + 1 < out.size())
            out[++i] = runDirectory;
        else if (out[i].startsWith(u"--run-dir="))
            out[i] = QStringLiteral("--run-dir=") + runDirectory;
    }
    return out;
}

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
    QString start = QStringLiteral("start \"\" ") + argvWord(path);
    for (const QString &argument : arguments)
        start += u' ' + argvWord(argument);
    start = batchLine(start);
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
    // The script runs in the run directory: a relative --run-dir would point
    // the new copy at another, empty folder.
    const QStringList arguments = restartArguments(QCoreApplication::arguments().mid(1), rundir::path());
    if (!launchRestartScript(program, arguments, pauseCount(delaySeconds)))
        return;
    if (endProcess)
        endProcess();
}

} // namespace restart
