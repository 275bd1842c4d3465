#include "studio/log.h"

Q_LOGGING_CATEGORY(lcStudio, "tolvar.studio", QtInfoMsg)
