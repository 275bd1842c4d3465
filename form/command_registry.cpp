#include "form/command_registry.h"

#include "form/form.h"
#include "form/log.h"

CommandRegistry::CommandRegistry(Form &form, QObject *parent)
    : QObject(parent)
    , m_form(form)
{
    // Queued when the click comes from another thread.
    connect(&m_form, &Form::clicked, this, &CommandRegistry::onClicked, Qt::AutoConnection);
}

bool CommandRegistry::addCommand(const QString &control, std::function<void()> action)
{
    if (!m_form.has(control)) {
        qCWarning(lcForm).noquote() << "command for a control the window does not have:" << control;
        return false;
    }
    m_commands.insert(control, std::move(action));
    return true;
}

void CommandRegistry::onClicked(const QString &name)
{
    const auto it = m_commands.constFind(name);
    if (it != m_commands.constEnd())
        (*it)();
}
