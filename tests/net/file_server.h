#pragma once

#include "tests/net/raw_server.h"

#include <QByteArray>

#include <functional>

namespace nettest {

// How a test file server misbehaves.
struct FileServerFaults {
    bool ignoreRange = false;       // answers every request with the whole file
    qint64 cutRangeFrom = -1;       // a range starting here gets half its bytes, then the connection ends
    bool cutWithoutLength = false;  // ... and its answer announces no length
    qsizetype slowPiece = 0;        // writes the body in pieces of this size ...
    int slowPauseMs = 0;            // ... with this pause after each
    // Called for each range request with its first byte; returning true cuts
    // the answer like cutRangeFrom.
    std::function<bool(qint64 first)> cutIf;
    // Header lines, each ended by CR LF, put into every answer's head after
    // its status and range lines.
    QByteArray headLines;
};

// Serves `content` on every path with byte ranges ("Range:bytes=a-b") over
// kept-alive connections.
RawServer::Handler fileServer(QByteArray content, FileServerFaults faults = {});

} // namespace nettest
