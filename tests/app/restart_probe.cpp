// A program that restarts itself once through the restart script, as
// 重启软件 does: each start adds a line (its arguments) to starts.txt in its
// run directory.
#include "app/restart.h"
#include "base/run_directory.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return 2;
    // Either the run directory itself or --run-dir and a directory, which
    // may be relative to the working directory.
    rundir::set(args.at(1) == u"--run-dir" ? args.value(2) : args.at(1));
    QFile starts(rundir::join(u"starts.txt"));
    if (!starts.open(QIODevice::Append))
        return 1;
    const bool first = starts.size() == 0;
    starts.write((args.mid(1).join(u'|') + u'\n').toUtf8());
    starts.close();
    if (first)
        restart::restartProgram(1, [] { std::exit(0); });
    return 0;
}
