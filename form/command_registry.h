#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class Form;

// What a click on a control of the form does. Each folder registers the
// commands of its own buttons; a click made on any thread (the hot key,
// --start, a worker) runs its command on the thread that owns the registry,
// the user-interface thread.
class CommandRegistry : public QObject {
    Q_OBJECT
public:
    explicit CommandRegistry(Form &form, QObject *parent = nullptr);

    // Runs `action` whenever `control` is clicked; a later command for the
    // same control replaces the earlier one. A control the form does not
    // have is refused with a warning.
    bool addCommand(const QString &control, std::function<void()> action);
    bool hasCommand(const QString &control) const { return m_commands.contains(control); }

protected:
    Form &m_form;

private:
    void onClicked(const QString &name);

    QHash<QString, std::function<void()>> m_commands;
};
