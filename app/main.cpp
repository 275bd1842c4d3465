#include "app/application.h"
#include "app/command_line.h"
#include "app/console.h"
#include "app/log.h"
#include "app/qt_message_presenter.h"
#include "base/diagnostic_log.h"
#include "base/gbk.h"
#include "base/regex_jit.h"
#include "base/run_directory.h"
#include "browser/browser_module.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>

#include <cstdio>

namespace {

QStringList rawArguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    return args;
}

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char **argv)
{
    disableRegexJitWhereUnsafe();
    QElapsedTimer sinceStart;
    sinceStart.start();
    const CommandLine commandLine = parseCommandLine(rawArguments(argc, argv));
    console::attachToParentConsole(commandLine.headless);
    if (!commandLine.error.isEmpty()) {
        print(stderr, commandLine.error + QStringLiteral("\n\n") + helpText());
        return 2;
    }
    if (commandLine.showHelp) {
        print(stdout, helpText());
        return 0;
    }
    if (commandLine.showVersion) {
        print(stdout, versionText() + u'\n');
        return 0;
    }
    // A headless run needs no display: the same models and commands run on
    // the offscreen platform, with no window shown.
    if (commandLine.headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Every shared file is GBK; writing one in another encoding would ruin
    // it for the older program and for the user, so no codec means no start.
    if (!gbk::isAvailable()) {
        const QString why = QStringLiteral("GBK (code page 936) text conversion is not available on this system; Tolvar cannot start.");
        print(stderr, why + u'\n');
        if (!commandLine.headless)
            QMessageBox::critical(nullptr, QStringLiteral("Tolvar"), why);
        return 3;
    }
    if (!commandLine.runDir.isEmpty()) {
        if (!QDir().mkpath(commandLine.runDir)) {
            print(stderr, QStringLiteral("cannot create the run directory: ") + commandLine.runDir + u'\n');
            return 2;
        }
        rundir::set(commandLine.runDir);
    }
    diagnostics::Options logOptions;
    logOptions.verbose = commandLine.verbose;
    diagnostics::install(logOptions);
    qCInfo(lcApp).noquote() << versionText() << "starting; run directory" << rundir::path() << (commandLine.headless ? "(headless)" : "");
    browsermodule::initBrowserModule();
    QtMessagePresenter presenter;
    if (!commandLine.headless)
        messagebox::setPresenter(&presenter);

    Application app(commandLine);
    if (qEnvironmentVariableIsSet("TOLVAR_PRINT_READY")) {
        // Start-up figure for benchmarks: milliseconds from process start to the main window.
        QObject::connect(&app, &Application::mainWindowReady, &app, [&sinceStart] {
            print(stdout, QStringLiteral("ready %1\n").arg(sinceStart.elapsed()));
        });
    }
    app.startUp();
    return qtApp.exec();
}
