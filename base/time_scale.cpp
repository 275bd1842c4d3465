#include "base/time_scale.h"

#include <QByteArray>

#include <cmath>
#include <cstdlib>

namespace timescale {

double factor()
{
    static const double value = [] {
        const char *text = std::getenv("TOLVAR_TIME_SCALE");
        if (!text || !*text)
            return 1.0;
        // Read with a full stop whatever the locale (strtod would stop at
        // the "." under a comma-decimal one).
        bool ok = false;
        const double v = QByteArray(text).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v) || v <= 0.0 || v > 1.0)
            return 1.0;
        return v;
    }();
    return value;
}

qint64 scaled(qint64 milliseconds)
{
    if (milliseconds <= 0)
        return 0;
    return static_cast<qint64>(std::llround(static_cast<double>(milliseconds) * factor()));
}

} // namespace timescale
