#pragma once

namespace testsupport {
// On Windows: a crash of a test process prints its code, address and the
// return addresses of its stack as module+offset to standard error before
// the process ends (no debugger needs to be attached). Elsewhere nothing.
void installCrashTrace();
} // namespace testsupport
