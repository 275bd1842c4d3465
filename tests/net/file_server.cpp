#include "tests/net/file_server.h"

namespace nettest {

namespace {

struct Range {
    qint64 first = 0;
    qint64 last = -1;
};

bool parseRange(const QByteArray &value, Range &range)
{
    if (!value.startsWith("bytes="))
        return false;
    const QList<QByteArray> bounds = value.mid(6).split('-');
    if (bounds.size() != 2)
        return false;
    range.first = bounds[0].toLongLong();
    range.last = bounds[1].isEmpty() ? -1 : bounds[1].toLongLong();
    return true;
}

} // namespace

RawServer::Handler fileServer(QByteArray content, FileServerFaults faults)
{
    return [content, faults](RawConnection &c) {
        const qint64 size = content.size();
        while (c.readRequest()) {
            Range range;
            const bool ranged = !faults.ignoreRange && parseRange(c.header("Range"), range) && range.first < size;
            QByteArray body = content;
            QByteArray head = "HTTP/1.1 200 OK\r\n";
            if (ranged) {
                const qint64 last = range.last < 0 ? size - 1 : std::min(range.last, size - 1);
                body = content.mid(range.first, last - range.first + 1);
                head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(range.first) + '-'
                    + QByteArray::number(last) + '/' + QByteArray::number(size) + "\r\n";
            }
            head += faults.headLines;
            const bool cut = ranged && (range.first == faults.cutRangeFrom || (faults.cutIf && faults.cutIf(range.first)));
            if (cut && faults.cutWithoutLength)
                head += "Connection: close\r\n";
            else
                head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
            head += "Content-Type: application/octet-stream\r\n\r\n";
            if (cut)
                body.truncate(body.size() / 2);
            const bool sent = c.write(head)
                && (faults.slowPiece > 0 ? c.writeSlowly(body, faults.slowPiece, faults.slowPauseMs) : c.write(body));
            if (!sent || cut)
                return;
        }
    };
}

} // namespace nettest
