#pragma once

#include <QtGlobal>

// Tests shrink every prescribed wait by TOLVAR_TIME_SCALE (for example 0.05).
// The variable is read once, the first time a wait asks for the factor.
namespace timescale {

double factor();
// A prescribed duration in milliseconds after scaling, never below 0.
qint64 scaled(qint64 milliseconds);

} // namespace timescale
