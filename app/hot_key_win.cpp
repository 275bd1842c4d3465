#include "app/hot_key.h"

#include "app/log.h"

#include <QCoreApplication>

#include <windows.h>

namespace {
constexpr UINT kVirtualKeyK = 75;
}

GlobalHotKey::GlobalHotKey(QObject *parent)
    : QObject(parent)
{
}

GlobalHotKey::~GlobalHotKey()
{
    unregisterKey();
}

bool GlobalHotKey::registerKey()
{
    if (m_registered)
        return true;
    m_id = static_cast<int>(GlobalAddAtomW(L"TolvarHotKeyCtrlAltK")) & 0xBFFF;
    // Registered for the thread rather than a window: WM_HOTKEY arrives in
    // the user-interface thread's queue, where the filter sees it.
    if (!RegisterHotKey(nullptr, m_id, MOD_CONTROL | MOD_ALT, kVirtualKeyK)) {
        const DWORD error = GetLastError();
        qCWarning(lcApp).nospace() << "the hot key Ctrl+Alt+K is not registered: RegisterHotKey failed with error " << error
                                   << (error == ERROR_HOTKEY_ALREADY_REGISTERED ? " (another program holds the key)" : "");
        return false;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_registered = true;
    return true;
}

void GlobalHotKey::unregisterKey()
{
    if (!m_registered)
        return;
    m_registered = false;
    UnregisterHotKey(nullptr, m_id);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool GlobalHotKey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "windows_generic_MSG")
        return false;
    const MSG *msg = static_cast<MSG *>(message);
    if (msg->message != WM_HOTKEY || static_cast<int>(msg->wParam) != m_id)
        return false;
    emit activated();
    return true;
}
