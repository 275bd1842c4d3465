#pragma once

#include <QString>

// The first-run disclaimer: shown until the user accepts it once, which
// leaves a marker file in the user's documents folder.
namespace disclaimer {

QString markerPath();
QString disclaimerText();
// Shows the box unless the marker exists; OK writes the marker.
void acceptDisclaimer();

} // namespace disclaimer
