#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Restarts the program: a throw-away script beside it waits a moment, starts
// the program again and deletes itself, while the running copy ends.
namespace restart {

// The pause count of the script: the given delay when above 0, else 2.
int pauseCount(int delaySeconds);

// The program's arguments for the new copy, with the value of --run-dir
// replaced by `runDirectory` (absolute).
QStringList restartArguments(const QStringList &arguments, const QString &runDirectory);

// Restart.bat: four CR LF lines in GBK, no line break after the last. The
// program path is written in its short form on Windows; each word is quoted
// for the program's command line and escaped for cmd (% and, outside quotes,
// its special characters).
QByteArray batchScriptText(const QString &programPath, const QStringList &arguments, int pauseCount);
// Restart.sh for other systems: the same steps as a POSIX shell script.
QByteArray shellScriptText(const QString &programPath, const QStringList &arguments, int pauseCount);

// Restart.bat on Windows, Restart.sh elsewhere, in the run directory.
QString scriptPath();

// Writes the script and starts it without waiting, with the run directory as
// its working directory. False when either step failed.
bool launchRestartScript(const QString &programPath, const QStringList &arguments, int pauseCount);

// Restarts the running program with its own arguments and then calls
// `endProcess`. Nothing happens when the program file is missing or the
// script cannot be started (ending then would leave no program running).
void restartProgram(int delaySeconds, const std::function<void()> &endProcess);

} // namespace restart
