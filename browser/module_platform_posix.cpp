#include "browser/module_platform.h"

#include <unistd.h>

namespace moduleplatform {

bool isElevated()
{
    return ::geteuid() == 0;
}

void terminateSelf()
{
    ::_exit(0);
}

} // namespace moduleplatform
