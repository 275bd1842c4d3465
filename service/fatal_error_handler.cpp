#include "service/fatal_error_handler.h"

#include "base/diagnostic_log.h"
#include "base/run_directory.h"
#include "service/error_report.h"
#include "service/log.h"

#include <QFile>
#include <QThread>

#include <atomic>
#include <exception>

namespace fatalerror {

namespace {
std::atomic_bool g_installed{false};
std::atomic_bool g_handling{false};
QtMessageHandler g_previousMessageHandler = nullptr;

// The first fatal error reports; one that arrives while it does (from the
// report itself or another thread) ends the process at once.
bool enterHandler()
{
    detail::markReported();
    return !g_handling.exchange(true);
}

[[noreturn]] void onTerminate()
{
    if (enterHandler()) {
        QString text = QStringLiteral("未知异常");
        if (const std::exception_ptr error = std::current_exception()) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                text = QString::fromLocal8Bit(e.what());
            } catch (...) {
            }
        }
        qCCritical(lcService).noquote() << "uncaught exception:" << text;
        errorreport::sendErrorReport(kUncaughtException, text);
    }
    std::abort();
}

void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && enterHandler())
        errorreport::sendErrorReport(kQtFatalMessage, message);
    if (g_previousMessageHandler)
        g_previousMessageHandler(type, context, message);
}
} // namespace

QString crashMarkerPath()
{
    return rundir::join(u"data/crash-marker.txt");
}

void installFatalErrorHandler()
{
    if (g_installed.exchange(true))
        return;
    std::set_terminate(onTerminate);
    g_previousMessageHandler = qInstallMessageHandler(onQtMessage);
    detail::installCrashMarker(crashMarkerPath());
}

bool takeCrashMarker(qint32 &code, QString &text)
{
    QFile file(crashMarkerPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.read(256).trimmed();
    file.close();
    QFile::remove(crashMarkerPath());
    // "<code> <name>", written by the crash handler.
    const qsizetype space = content.indexOf(' ');
    bool ok = false;
    code = content.left(space < 0 ? content.size() : space).toInt(&ok);
    if (!ok)
        code = 0;
    const QString name = space < 0 ? QString() : QString::fromLatin1(content.mid(space + 1));
    text = QStringLiteral("上次运行异常终止") + (name.isEmpty() ? QString() : QStringLiteral("：") + name);
    qCWarning(lcService).noquote() << "the last run ended in a crash:" << code << name;
    return true;
}

void reportPreviousCrash()
{
    qint32 code = 0;
    QString text;
    if (!takeCrashMarker(code, text))
        return;
    QThread *thread = QThread::create([code, text] {
        diagnostics::setThreadName("report");
        errorreport::sendReport(ServiceConfig::load(), errorreport::ErrorReport::gather(code, text));
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

} // namespace fatalerror
