// Loads 1,000 and then 10,000 account files into the account list of the
// main window (shown on the offscreen platform) and prints the wall time
// and the memory beside the idle window's.
#include "accounts/account_commands.h"
#include "accounts/account_list_view.h"
#include "accounts/account_store.h"
#include "accounts/account_table.h"
#include "app/main_commands.h"
#include "app/main_window.h"
#include "base/run_directory.h"
#include "form/form.h"
#include "form/window_layout.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

namespace {

long statusKb(const char *field)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Resets the peak figure so that VmHWM measures from here on.
void resetPeak()
{
    QFile f("/proc/self/clear_refs");
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void writeAccounts(const QString &runDir, int count)
{
    QDir().mkpath(runDir + "/data/list");
    for (int i = 0; i < count; ++i) {
        QFile f(runDir + QStringLiteral("/data/list/%1.json").arg(100 + i));
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral(R"({"昵称":"账号%1","素材目录":"/srv/videos/channel-%1","缓存id":"%2"})").arg(i).arg(100 + i).toUtf8());
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    rundir::set(dir.path());

    Form form;
    declareControls(form, mainWindowLayout());
    AccountTable table;
    MainCommands commands(form);
    AccountCommands accountCommands(form, table, commands);
    MainWindow window(form);
    AccountListView view(*window.accountView(), table, accountCommands);
    window.show();
    QApplication::processEvents();
    const long idleKb = statusKb("VmRSS:");

    std::printf("%8s %10s %12s %14s %12s\n", "accounts", "load ms", "idle RSS kB", "peak RSS kB", "extra kB");
    for (int count : {1000, 10000}) {
        writeAccounts(dir.path(), count);
        resetPeak();
        QElapsedTimer timer;
        timer.start();
        accounts::loadAllAccounts(table);
        while (window.accountView()->model()->rowCount() != count)
            QApplication::processEvents();
        window.accountView()->viewport()->repaint();
        const qint64 ms = timer.elapsed();
        const long peakKb = statusKb("VmHWM:");
        std::printf("%8d %10lld %12ld %14ld %12ld\n", count, static_cast<long long>(ms), idleKb, peakKb, peakKb - idleKb);
    }
    std::printf("goal: 10,000 accounts under 2000 ms and under 102400 kB above the idle window\n");
    return 0;
}
