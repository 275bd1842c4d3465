#include "app/termination_signals.h"

#include <QMetaObject>

#include <atomic>

#include <windows.h>

namespace {
std::atomic<TerminationSignals *> g_instance{nullptr};

// Runs on a thread the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD type)
{
    TerminationSignals *instance = g_instance.load();
    if (!instance)
        return FALSE;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        QMetaObject::invokeMethod(instance, &TerminationSignals::terminationRequested, Qt::QueuedConnection);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process when this returns: hold it while the
        // destroy handling saves the settings and ends the process itself.
        QMetaObject::invokeMethod(instance, &TerminationSignals::terminationRequested, Qt::QueuedConnection);
        ::Sleep(4500);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    g_instance.store(this);
    // A process started in a new process group (or by one that ignores
    // Ctrl+C) inherits "ignore Ctrl+C"; we want to hear it.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    TerminationSignals *self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}
