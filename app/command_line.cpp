#include "app/command_line.h"

#include "base/message_box.h"
#include "base/version.h"

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine cl;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QStringLiteral("--run-dir")) {
            if (i + 1 >= arguments.size()) {
                cl.error = QStringLiteral("--run-dir needs a directory");
                return cl;
            }
            cl.runDir = arguments[++i];
        } else if (a.startsWith(QStringLiteral("--run-dir="))) {
            cl.runDir = a.mid(10);
        } else if (a == QStringLiteral("--headless")) {
            cl.headless = true;
        } else if (a == QStringLiteral("--start")) {
            cl.start = true;
        } else if (a == QStringLiteral("--exit-when-done")) {
            cl.exitWhenDone = true;
        } else if (a == QStringLiteral("--lanes") || a.startsWith(QStringLiteral("--lanes="))) {
            const QString value = a.size() > 7 ? a.mid(8) : (i + 1 < arguments.size() ? arguments[++i] : QString());
            bool ok = false;
            cl.lanes = value.toInt(&ok);
            if (!ok || cl.lanes < 1 || cl.lanes > 32) {
                cl.error = QStringLiteral("--lanes needs a number from 1 to 32");
                return cl;
            }
        } else if (a == QStringLiteral("--verbose")) {
            cl.verbose = true;
        } else if (a == QStringLiteral("--version") || a == QStringLiteral("-v")) {
            cl.showVersion = true;
        } else if (a == QStringLiteral("--help") || a == QStringLiteral("-h")) {
            cl.showHelp = true;
        } else {
            cl.error = QStringLiteral("unknown option: ") + a;
            return cl;
        }
    }
    if (!cl.runDir.isEmpty() && cl.runDir.trimmed().isEmpty())
        cl.error = QStringLiteral("--run-dir needs a directory");
    return cl;
}

QString versionText()
{
    return messagebox::applicationTitle() + QStringLiteral(" v") + QString::fromLatin1(kVersionText);
}

QString helpText()
{
    return versionText() + QStringLiteral(
        "\n\nUsage: tolvar [options]\n\n"
        "  --run-dir DIR      keep every data file under DIR instead of the program's folder\n"
        "  --headless         show no window and need no display; message boxes print to\n"
        "                     standard error and are answered OK (or Cancel where offered)\n"
        "  --start            press Start once the main window is up\n"
        "  --exit-when-done   end the program when a run ends by itself\n"
        "  --lanes N          work on N accounts at once, each with its own browser (1 to 32;\n"
        "                     overrides 同时运行账号数 for this run)\n"
        "  --verbose          copy the diagnostic log (logs/tolvar.log) to standard error,\n"
        "                     with debug messages\n"
        "  --version          print the version text\n"
        "  --help             print this text\n\n"
        "Exit codes: 0 normal end, 2 bad command line, 3 the run stopped itself because\n"
        "  attempts in a row failed at the same step ([lanes] same_failure_stop)\n\n"
        "Environment:\n"
        "  TOLVAR_TIME_SCALE  shrink every prescribed wait by this factor (0 < f <= 1), for tests\n");
}
