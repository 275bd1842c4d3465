#pragma once

#include "form/form.h"

#include <QList>
#include <QRect>
#include <QString>

// One control of a window design: the same table declares the control in
// the `Form` (name, kind, default) and places its widget (parent, geometry).
struct ControlDef {
    QString name;
    ControlKind kind;
    QString parent;   // "" for the window, a container's name, or "tabs#page"
    QString text;     // caption, content, or "a|b|c" for tab pages and status parts
    QRect geometry;
    bool checked = false;
    QString group;    // radio group
    bool multiLine = false;
};

// The main window's controls in window order.
const QList<ControlDef> &mainWindowLayout();
// The start window's controls.
const QList<ControlDef> &startWindowLayout();

// Declares every control of a layout in the form, with its default.
void declareControls(Form &form, const QList<ControlDef> &layout);

// Widths of the main window's status-bar parts (the last takes the rest).
inline constexpr int kMainStatusWidths[] = {260, 350, 200};
inline constexpr int kStartStatusWidths[] = {99, 300};
