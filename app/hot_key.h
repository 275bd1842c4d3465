#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

// The system-wide hot key Ctrl+Alt+K: it acts wherever the input focus is.
// Registered with RegisterHotKey on Windows and as a key grab on the X11
// root window elsewhere; `activated` is emitted on the user-interface thread.
class GlobalHotKey final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit GlobalHotKey(QObject *parent = nullptr);
    ~GlobalHotKey() override;

    bool registerKey();
    void unregisterKey();
    bool isRegistered() const { return m_registered; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void activated();

private:
    bool m_registered = false;
    int m_id = 0;
    unsigned int m_keyCode = 0;
};
