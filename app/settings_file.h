#pragma once

#include "form/form.h"

#include <QString>

// The saved control values of a window: data/setsoft.ini, sections
// "编辑框", "单选框" and "组合框", one key per control name.
namespace settings {

// data/setsoft.ini under the run directory; creates data/ when it is missing.
QString settingsDataPath();

// Value texts as they are stored.
QString encodeEditValue(const QString &content);
QString decodeEditValue(const QString &stored);
QString encodeComboValue(const QList<ComboItem> &items, int index, const QString &editText);

// Writes every edit box, radio button and combo box of the form, in window
// order, except the names in `excluded` ("a|b"). Other sections and keys of
// the file stay as they were. An empty path means settingsDataPath().
// The file stays GBK: an edit box whose value it cannot hold as it is (it
// would come back with '?') is named in the status bar (状态条1, part 1) and
// in the diagnostic log, once per control and value.
bool saveSettings(Form &form, const QString &path = {}, const QString &excluded = {});
// Reads edit boxes and radio buttons back; empty values leave the controls as they are.
void loadSettings(Form &form, const QString &path = {});

} // namespace settings
