#pragma once

#include <cstddef>

// The stand-in browser's two pipe ends, found as a browser finds them: fds 3
// and 4, or the handles named by --remote-debugging-io-pipes on Windows.
namespace peerio {
bool open(int argc, char **argv);
long read(char *buffer, std::size_t size);
long write(const char *data, std::size_t size);
[[noreturn]] void quit(int code);
} // namespace peerio
