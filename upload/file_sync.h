#pragma once

class QFile;

// Pushes what was written to an open file through the system's caches onto
// the disk: Qt's buffer is flushed, then the file's bytes and (where the
// system keeps them apart) its entry in its folder are synced. False when
// any step failed; the reason goes to the log.
bool syncToDisk(QFile &file);
