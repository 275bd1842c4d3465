#pragma once

#include "form/form.h"
#include "form/window_layout.h"

#include <QHash>
#include <QObject>
#include <QString>

class QWidget;

// Builds the widgets of a window design and binds each one both ways to
// its control in the `Form`: user input goes into the form at once, and a
// change of the form (from any thread) reaches the widget on the
// user-interface thread. Every widget's object name is its control name.
class WindowBuilder final : public QObject {
    Q_OBJECT
public:
    WindowBuilder(Form &form, QWidget *window, const QList<ControlDef> &layout, const int *statusWidths, int statusWidthCount);

    QWidget *widget(const QString &name) const { return m_widgets.value(name); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *create(const ControlDef &def, QWidget *parent);
    QWidget *parentFor(const QString &parent, QWidget *window) const;
    void fitInlineEdits(const QList<ControlDef> &layout);
    void bindInput(const ControlDef &def, QWidget *w);
    void refresh(const QString &name);

    Form &m_form;
    const int *m_statusWidths;
    int m_statusWidthCount;
    QHash<QString, QWidget *> m_widgets;
};
