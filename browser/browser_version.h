#pragma once

#include <QString>

class BrowserLibrary;

// What the browser reports about itself.
struct BrowserVersionInfo {
    QString browser;
    QString engineVersion;
    QString userAgent;
    QString protocolVersion;
    QString webkitVersion;
    QString debuggerAddress;
};

// Asks the browser of the page for its version; returns the raw answer (empty
// when there is none) and fills info (left empty when the answer does not parse).
QString readBrowserVersion(BrowserLibrary &library, int pageId, BrowserVersionInfo &info);

// The text of the version label: six captions, then the program's version.
QString browserVersionLabelText(const BrowserVersionInfo &info, const QString &programVersion);
