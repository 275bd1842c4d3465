#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class BrowserLibrary;
namespace studio {
class StudioDescription;
}

// What a failed video leaves under logs/failures/: a screenshot of the page
// and a text beside it with the step, the page address, the last texts read
// and the reason, named by date, time, account id and video file
// ("20261209-080331_100_stalls.png" and ".txt"). At most 200 pairs and
// 100 MB are kept; the oldest go first.
struct FailureFacts {
    QDateTime time;
    QString accountId;
    QString video;
    QString step;
    QString reason;
    QString lastSeen;
    QString address;  // the page's address when it failed
    QByteArray png;   // its screenshot then (empty: no page to show)
    // Every element role of the studio description and whether the page
    // showed it then, one line each (empty: no page to ask).
    QString census;
};

namespace evidence {

QString failuresFolder();
// The page's address, screenshot and census of roles, taken at the moment
// of the failure (before the time limit closes the page).
void capturePage(BrowserLibrary &library, int pageId, FailureFacts &facts, const studio::StudioDescription *description = nullptr);
// Saves the pair (the text also when there is no page to show); returns the
// text file's path, "" when nothing could be written.
QString save(const FailureFacts &facts);
// Drops the oldest pairs beyond the limits.
void prune(int maxPairs = 200, qint64 maxBytes = 100LL * 1024 * 1024);

} // namespace evidence
