#include "tests/support/crash_trace.h"

namespace testsupport {

void installCrashTrace()
{
    // ASan and the system's core dumps tell more than we could here.
}

} // namespace testsupport
