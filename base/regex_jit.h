#pragma once

#include <QtGlobal>

// Qt keeps a per-thread stack for its compiled (JIT) regular expressions in
// a thread_local. With the MinGW runtime, threads that matched a regular
// expression (Qt does so itself for directory name filters) and end together
// crash in that object's destructor, which reads garbage: by all signs the
// thread's storage was already freed and taken by another thread. Without the
// JIT, Qt never creates that stack. Called first thing in main, before any
// regular expression is compiled.
inline void disableRegexJitWhereUnsafe()
{
#ifdef Q_OS_WIN
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
#endif
}
