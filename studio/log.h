#pragma once

#include <QLoggingCategory>

// Diagnostics of this folder; they go to logs/tolvar.log (see base/diagnostic_log.h).
Q_DECLARE_LOGGING_CATEGORY(lcStudio)
