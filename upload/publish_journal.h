#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QString>

#include <optional>

// Who a video is, independent of where it lies: its bytes (SHA-256 and size)
// and what it went out as.
struct VideoIdentity {
    QByteArray sha256Hex; // lower-case hex
    qint64 size = 0;
    QString name; // file name without folder
    QString account;
    QString title;
};

enum class JournalState { None, Submitting, Published, Draft, Disposed, Held, Failed };

// The durable record of what became of each video, so that a crash at any
// moment never publishes a video twice and never deletes one that is not in
// the studio. Append-only JSON lines in data/publish-journal.jsonl, each on
// disk before record() returns; lookups use an index held in memory.
// Thread-safe.
class PublishJournal final {
public:
    explicit PublishJournal(const QString &path = defaultPath());
    Q_DISABLE_COPY_MOVE(PublishJournal)

    static QString defaultPath();
    QString path() const { return m_path; }

    // Reads the whole file again; a line that is cut off or does not parse
    // (a crash mid-write, junk) is skipped and logged, never fatal.
    void reload();
    // Appends one line and syncs it to disk before returning; false (with the
    // reason logged) when it could not be written. The index changes only
    // with a line that was written.
    bool record(const VideoIdentity &id, JournalState state, const QString &reason = {});

    // The latest state recorded for this identity (matched by sha256 AND
    // size), None when unknown.
    JournalState stateOf(const QByteArray &sha256Hex, qint64 size) const;
    // True when some entry has this size and file name (letter case aside):
    // the cheap test done before hashing a picked file.
    bool mayHold(qint64 size, const QString &name) const;
    // The entries whose latest state is Submitting (no outcome yet), in the
    // order they were first recorded, for the job to settle at start.
    QList<VideoIdentity> unsettled() const;
    // The latest identity recorded (title, account) for a sha256+size.
    std::optional<VideoIdentity> find(const QByteArray &sha256Hex, qint64 size) const;

private:
    struct Entry {
        VideoIdentity id;
        JournalState state = JournalState::None;
        qint64 order = 0; // when the identity was first seen
    };
    void indexLocked(const VideoIdentity &id, JournalState state);

    const QString m_path;
    mutable QMutex m_mutex;
    QHash<QByteArray, Entry> m_entries; // by sha256 and size
    QSet<QPair<qint64, QString>> m_sizeNames;
    qint64 m_nextOrder = 0;
};

// The journal's name of a state ("submitting" …) and back; "" and None for
// what is none of them.
QString journalStateName(JournalState state);
JournalState journalStateFromName(QStringView name);

// SHA-256 of a file's bytes in lower-case hex, read in 1 MiB blocks; empty on
// a read error (logged).
QByteArray sha256OfFile(const QString &path);
