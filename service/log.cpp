#include "service/log.h"

// Debug messages only with --verbose; the rest always reach the log file.
Q_LOGGING_CATEGORY(lcService, "tolvar.service", QtInfoMsg)
