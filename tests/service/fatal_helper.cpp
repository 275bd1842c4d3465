// Meets one fatal error after installing the program's handler, so the
// tests can watch what the handler leaves behind.
#include "base/run_directory.h"
#include "service/fatal_error_handler.h"

#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <stdexcept>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    rundir::set(QString::fromLocal8Bit(argv[2]));
    fatalerror::installFatalErrorHandler();
    const QByteArray kind = argv[1];
    if (kind == "throw")
        throw std::runtime_error("helper failed");
    if (kind == "qfatal")
        qFatal("helper fatal");
    if (kind == "segv")
        std::raise(SIGSEGV);
    if (kind == "start") {
        fatalerror::reportPreviousCrash();
        // The report goes out on its own thread; give it the time to finish.
        QThread::sleep(3);
        return 0;
    }
    return 3;
}
