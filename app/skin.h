#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

// The program's window skin: our own theme (a style sheet and a palette)
// carried in the program as a resource, with a light Chinese font.
namespace skin {

// Attaches the theme to the whole application, so every window and message
// box made afterwards wears it. Hue is clamped to -180..180 degrees and
// saturation to -100..100 percent; 0 and 0 leave the theme as drawn.
void attachSkin(int hue, int saturation);

// A colour turned by `hue` degrees, its saturation scaled by 1 + saturation/100.
QColor adjustColor(const QColor &color, int hue, int saturation);
// Every #rrggbb colour of a style sheet adjusted as above.
QString adjustStyleSheet(const QString &styleSheet, int hue, int saturation);
QPalette skinPalette(int hue, int saturation);
// The theme's style sheet, before any adjustment.
QString themeStyleSheet();

// The installed font family the skin prefers on this system (empty when no
// font holds Chinese glyphs). Needs the application object.
QString preferredFontFamily();

} // namespace skin
