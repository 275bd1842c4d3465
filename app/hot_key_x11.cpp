#include "app/hot_key.h"

#include "app/log.h"

#include <QGuiApplication>
#include <QList>

#include <cstdlib>

#include <xcb/xcb.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

// Lock modifiers must not stop the key: the grab is made for every
// combination of Caps Lock and Num Lock (Mod2).
static const unsigned int kLockCombos[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
static const unsigned int kModifiers = ControlMask | Mod1Mask;

namespace {
QNativeInterface::QX11Application *x11()
{
    return qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

void ungrab(xcb_connection_t *connection, xcb_window_t root, unsigned int keyCode, const QList<unsigned int> &modifiers)
{
    for (unsigned int mods : modifiers)
        xcb_ungrab_key(connection, static_cast<xcb_keycode_t>(keyCode), root, static_cast<uint16_t>(mods));
    xcb_flush(connection);
}
} // namespace

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
    QNativeInterface::QX11Application *native = x11();
    Display *display = native ? native->display() : nullptr;
    xcb_connection_t *connection = native ? native->connection() : nullptr;
    if (!display || !connection) {
        qCWarning(lcApp) << "the hot key Ctrl+Alt+K is not registered: there is no X11 display";
        return false;
    }
    m_keyCode = XKeysymToKeycode(display, XK_k);
    if (m_keyCode == 0) {
        qCWarning(lcApp) << "the hot key Ctrl+Alt+K is not registered: the keyboard has no K key";
        return false;
    }
    // Checked grabs: the server refuses a grab that another program holds
    // (BadAccess), and then the key is not ours.
    const xcb_window_t root = static_cast<xcb_window_t>(DefaultRootWindow(display));
    QList<unsigned int> grabbed;
    for (unsigned int lock : kLockCombos) {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, root, static_cast<uint16_t>(kModifiers | lock),
                                                              static_cast<xcb_keycode_t>(m_keyCode), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t *error = xcb_request_check(connection, cookie)) {
            qCWarning(lcApp).nospace() << "the hot key Ctrl+Alt+K is not registered: the X server refused the grab (error "
                                       << error->error_code << (error->error_code == XCB_ACCESS ? ", another program holds the key" : "") << ")";
            std::free(error);
            ungrab(connection, root, m_keyCode, grabbed);
            return false;
        }
        grabbed.append(kModifiers | lock);
    }
    qApp->installNativeEventFilter(this);
    m_registered = true;
    return true;
}

void GlobalHotKey::unregisterKey()
{
    if (!m_registered)
        return;
    m_registered = false;
    if (qApp)
        qApp->removeNativeEventFilter(this);
    QNativeInterface::QX11Application *native = x11();
    Display *display = native ? native->display() : nullptr;
    if (!display || !native->connection())
        return;
    QList<unsigned int> all;
    for (unsigned int lock : kLockCombos)
        all.append(kModifiers | lock);
    ungrab(native->connection(), static_cast<xcb_window_t>(DefaultRootWindow(display)), m_keyCode, all);
}

bool GlobalHotKey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    const unsigned int mods = key->state & (ControlMask | Mod1Mask | ShiftMask | Mod4Mask);
    if (key->detail != m_keyCode || mods != kModifiers)
        return false;
    emit activated();
    return true;
}
