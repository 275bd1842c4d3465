#include "browser/pipe_process.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr qsizetype kErrorHeadBytes = 4096;
}

QByteArray PipeProcess::standardErrorHead()
{
    if (m_errorDrain.joinable() && hasExited()) {
        // The browser's helpers may keep the stream open; half a second will do.
        for (int i = 0; i < 50 && !m_drained; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard lock(m_errorMutex);
    return m_errorHead;
}

void PipeProcess::drainStandardError()
{
    readStandardError();
    m_drained = true;
}

void PipeProcess::keepStandardError(const char *data, std::size_t size)
{
    std::lock_guard lock(m_errorMutex);
    const qsizetype room = kErrorHeadBytes - m_errorHead.size();
    if (room > 0)
        m_errorHead.append(data, std::min<qsizetype>(room, static_cast<qsizetype>(size)));
}
