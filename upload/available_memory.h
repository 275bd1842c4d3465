#pragma once

#include <QtGlobal>

// Memory the system can give to a new process without swapping, in MiB
// (MemAvailable on Linux, the available physical memory on Windows); -1
// when it cannot be read (logged).
qint64 availableMemoryMb();
