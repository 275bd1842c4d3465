#include "app/hot_key.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

// Lock modifiers must not stop the key: the grab is made for every
// combination of Caps Lock and Num Lock (Mod2).
static const unsigned int kLockCombos[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
static const unsigned int kModifiers = ControlMask | Mod1Mask;

namespace {
Display *x11Display()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
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
    Display *display = x11Display();
    if (!display || m_registered)
        return m_registered;
    m_keyCode = XKeysymToKeycode(display, XK_k);
    if (m_keyCode == 0)
        return false;
    const Window root = DefaultRootWindow(display);
    for (unsigned int lock : kLockCombos)
        XGrabKey(display, static_cast<int>(m_keyCode), kModifiers | lock, root, True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
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
    Display *display = x11Display();
    if (!display)
        return;
    const Window root = DefaultRootWindow(display);
    for (unsigned int lock : kLockCombos)
        XUngrabKey(display, static_cast<int>(m_keyCode), kModifiers | lock, root);
    XSync(display, False);
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
