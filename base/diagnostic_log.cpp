#include "base/diagnostic_log.h"

#include "base/run_directory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>

#include <cstdio>
#include <mutex>

namespace diagnostics {
namespace {

thread_local const char *t_threadName = nullptr;
// A message logged while a message is being written (a warning of QFile,
// say) goes to standard error only, never back into the file.
thread_local bool t_writing = false;

struct Sink {
    std::mutex mutex;
    Options options;
    QFile file;
    QtMessageHandler previous = nullptr;
    bool installed = false;
};

Sink &sink()
{
    static Sink s;
    return s;
}

QString rolledName(const QString &path, int index)
{
    return path + u'.' + QString::number(index);
}

// Called with the lock held: tolvar.log -> .1 -> .2, the oldest dropped.
void rollOver(Sink &s, const QString &path)
{
    s.file.close();
    QFile::remove(rolledName(path, s.options.files - 1));
    for (int i = s.options.files - 2; i >= 1; --i)
        QFile::rename(rolledName(path, i), rolledName(path, i + 1));
    if (s.options.files > 1)
        QFile::rename(path, rolledName(path, 1));
    else
        QFile::remove(path);
}

bool openLog(Sink &s, const QString &path)
{
    if (s.file.isOpen() && s.file.fileName() == path)
        return true;
    s.file.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    s.file.setFileName(path);
    return s.file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void writeLine(Sink &s, const QByteArray &line)
{
    const QString path = logPath();
    if (!openLog(s, path))
        return;
    if (s.file.size() > 0 && s.file.size() + line.size() > s.options.rollBytes) {
        rollOver(s, path);
        if (!openLog(s, path))
            return;
    }
    s.file.write(line);
    // Each line reaches the disk at once: the log is read after crashes.
    s.file.flush();
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Sink &s = sink();
    const QByteArray line = formatLine(type, context.category, message).toUtf8() + '\n';
    if (t_writing) {
        // Logged while this thread writes the file (the lock is held).
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        return;
    }
    Options options;
    QtMessageHandler previous = nullptr;
    {
        std::lock_guard lock(s.mutex);
        options = s.options;
        previous = s.previous;
        t_writing = true;
        writeLine(s, line);
        t_writing = false;
    }
    if (previous && (options.forward || type == QtFatalMsg)) {
        previous(type, context, message); // a fatal message ends the process there
        return;
    }
    if (options.verbose) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
}

char levelLetter(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return 'D';
    case QtInfoMsg: return 'I';
    case QtWarningMsg: return 'W';
    case QtCriticalMsg: return 'C';
    case QtFatalMsg: return 'F';
    }
    return '?';
}

QString threadName()
{
    if (t_threadName)
        return QString::fromLatin1(t_threadName);
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        return QStringLiteral("main");
    const QString objectName = QThread::currentThread() ? QThread::currentThread()->objectName() : QString();
    if (!objectName.isEmpty())
        return objectName;
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}

} // namespace

QString logPath()
{
    return rundir::join(u"logs/tolvar.log");
}

void setThreadName(const char *name)
{
    t_threadName = name;
}

QString formatLine(QtMsgType type, const char *category, const QString &message)
{
    QString text = message;
    // One line per message, whatever the message holds.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n")).replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + u' ' + QChar::fromLatin1(levelLetter(type)) + u' '
        + QString::fromLatin1(category && *category ? category : "default") + QStringLiteral(" [") + threadName() + QStringLiteral("] ") + text;
}

void install(const Options &options)
{
    Sink &s = sink();
    {
        std::lock_guard lock(s.mutex);
        s.options = options;
        if (s.options.files < 1)
            s.options.files = 1;
        s.file.close();
    }
    QLoggingCategory::setFilterRules(options.verbose ? QStringLiteral("tolvar.*.debug=true") : QString());
    std::lock_guard lock(s.mutex);
    if (!s.installed) {
        s.installed = true;
        s.previous = qInstallMessageHandler(handler);
    }
}

void uninstall()
{
    Sink &s = sink();
    {
        std::lock_guard lock(s.mutex);
        if (!s.installed)
            return;
        s.installed = false;
        s.file.close();
    }
    qInstallMessageHandler(s.previous);
    s.previous = nullptr;
}

} // namespace diagnostics
