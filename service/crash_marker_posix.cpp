#include "service/fatal_error_handler.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace fatalerror::detail {

namespace {
// Filled once before the handler is installed: a crash handler may not
// allocate, so it only copies from here.
char g_markerPath[4096] = {};
std::atomic_bool g_reported{false};
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

const char *signalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "";
    }
}

void writeMarker(int signal)
{
    const int fd = ::open(g_markerPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    char line[64];
    int n = 0;
    char digits[12];
    int d = 0;
    for (unsigned v = static_cast<unsigned>(signal); d == 0 || v > 0; v /= 10)
        digits[d++] = static_cast<char>('0' + v % 10);
    while (d > 0)
        line[n++] = digits[--d];
    line[n++] = ' ';
    for (const char *name = signalName(signal); *name && n < 60; ++name)
        line[n++] = *name;
    line[n++] = '\n';
    const ssize_t written = ::write(fd, line, static_cast<size_t>(n));
    (void)written;
    ::close(fd);
}

void onCrash(int signal)
{
    if (!g_reported.exchange(true) && g_markerPath[0] != '\0')
        writeMarker(signal);
    // The default action ends the process the way the crash would have.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
} // namespace

void installCrashMarker(const QString &markerPath)
{
    const QByteArray path = QFile::encodeName(markerPath);
    if (path.size() >= static_cast<qsizetype>(sizeof g_markerPath))
        return;
    std::memcpy(g_markerPath, path.constData(), static_cast<size_t>(path.size()));
    g_markerPath[path.size()] = '\0';
    struct sigaction action = {};
    action.sa_handler = onCrash;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

void markReported()
{
    g_reported = true;
}

} // namespace fatalerror::detail
