#include "form/form.h"

#include "form/log.h"

#include <mutex>

Form::Form(QObject *parent)
    : QObject(parent)
{
}

void Form::addControl(const QString &name, ControlKind kind, const QString &text, bool checked, const QString &group)
{
    std::lock_guard lock(m_mutex);
    Control c;
    c.kind = kind;
    c.text = text;
    c.checked = checked;
    c.group = group;
    if (kind == ControlKind::StatusBar || kind == ControlKind::TabControl)
        c.parts = text.split(u'|');
    if (kind == ControlKind::TabControl)
        c.index = 0;
    if (!m_controls.contains(name))
        m_order.append(name);
    m_controls.insert(name, c);
}

bool Form::has(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return m_controls.contains(name);
}

ControlKind Form::kind(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).kind;
}

QStringList Form::names(ControlKind kind) const
{
    std::lock_guard lock(m_mutex);
    QStringList out;
    for (const QString &n : m_order)
        if (m_controls.value(n).kind == kind)
            out.append(n);
    return out;
}

QStringList Form::names() const
{
    std::lock_guard lock(m_mutex);
    return m_order;
}

QString Form::group(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).group;
}

QString Form::text(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).text;
}

void Form::setText(const QString &name, const QString &text)
{
    modify(name, [&](Control &c, QStringList &) {
        if (c.text == text)
            return false;
        c.text = text;
        return true;
    });
}

bool Form::isChecked(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).checked;
}

void Form::setChecked(const QString &name, bool checked)
{
    modify(name, [&](Control &c, QStringList &others) {
        if (c.kind == ControlKind::Radio && checked && !c.group.isEmpty()) {
            for (const QString &n : m_order) {
                Control &o = m_controls[n];
                if (n != name && o.kind == ControlKind::Radio && o.group == c.group && o.checked) {
                    o.checked = false;
                    others.append(n);
                }
            }
        }
        if (c.checked == checked)
            return false;
        c.checked = checked;
        return true;
    });
}

bool Form::isEnabled(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).enabled;
}

void Form::setEnabled(const QString &name, bool enabled)
{
    modify(name, [&](Control &c, QStringList &) {
        if (c.enabled == enabled)
            return false;
        c.enabled = enabled;
        return true;
    });
}

bool Form::isVisible(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).visible;
}

void Form::setVisible(const QString &name, bool visible)
{
    modify(name, [&](Control &c, QStringList &) {
        if (c.visible == visible)
            return false;
        c.visible = visible;
        return true;
    });
}

QByteArray Form::image(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).image;
}

void Form::setImage(const QString &name, const QByteArray &bytes)
{
    modify(name, [&](Control &c, QStringList &) {
        if (c.image == bytes)
            return false;
        c.image = bytes;
        return true;
    });
}

QString Form::tag(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).tag;
}

void Form::setTag(const QString &name, const QString &tag)
{
    // The tag is not shown, so no widget needs to hear of it.
    std::lock_guard lock(m_mutex);
    auto it = m_controls.find(name);
    if (it == m_controls.end())
        warnUnknown(name);
    else
        it->tag = tag;
}

QList<ComboItem> Form::comboItems(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).items;
}

int Form::comboIndex(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).index;
}

void Form::setComboItems(const QString &name, const QList<ComboItem> &items, int index)
{
    modify(name, [&](Control &c, QStringList &) {
        c.items = items;
        c.index = (index >= 0 && index < items.size()) ? index : -1;
        return true;
    });
}

QString Form::partText(const QString &name, int part) const
{
    std::lock_guard lock(m_mutex);
    return control(name).parts.value(part);
}

void Form::setPartText(const QString &name, int part, const QString &text)
{
    modify(name, [&](Control &c, QStringList &) {
        if (part < 0 || part >= c.parts.size() || c.parts[part] == text)
            return false;
        c.parts[part] = text;
        return true;
    });
}

int Form::partCount(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(control(name).parts.size());
}

int Form::currentPage(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return control(name).index;
}

void Form::setCurrentPage(const QString &name, int page)
{
    modify(name, [&](Control &c, QStringList &) {
        if (c.index == page || page < 0 || page >= c.parts.size())
            return false;
        c.index = page;
        return true;
    });
}

void Form::click(const QString &name)
{
    if (!has(name)) {
        warnUnknown(name);
        return;
    }
    const ControlKind k = kind(name);
    if (k == ControlKind::Radio)
        setChecked(name, true);
    else if (k == ControlKind::Check)
        setChecked(name, !isChecked(name));
    emit clicked(name);
}

void Form::modify(const QString &name, const std::function<bool(Control &, QStringList &)> &change)
{
    QStringList changedNames;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_controls.find(name);
        if (it == m_controls.end()) {
            warnUnknown(name);
            return;
        }
        if (change(*it, changedNames))
            changedNames.prepend(name);
    }
    for (const QString &n : changedNames)
        emit changed(n);
}

const Form::Control &Form::control(const QString &name) const
{
    static const Control none;
    const auto it = m_controls.constFind(name);
    if (it != m_controls.constEnd())
        return *it;
    warnUnknown(name);
    return none;
}

void Form::warnUnknown(const QString &name)
{
    // A misspelt control name would otherwise read as an empty default.
    qCWarning(lcForm).noquote() << "no control named" << name;
}
