#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>

#include <atomic>
#include <optional>
#include <mutex>

// Who a video is: its bytes (SHA-256 and size) and the account it goes to,
// for the same clip in two accounts' folders is two videos; and what it went
// out as.
struct VideoIdentity {
    QByteArray sha256Hex; // lower-case hex
    qint64 size = 0;
    QString name; // file name without folder
    QString account;
    QString title;
    // When the studio took it: the time of the line that recorded published
    // or draft, kept through later lines; empty when it never was. Set by the
    // journal (record() ignores what the caller puts here).
    QDateTime publishedAt;
    // The time the studio was told to publish it ("yyyy-MM-ddTHH:mm", local);
    // empty for a publish at once.
    QString scheduledAt;
};

enum class JournalState { None, Submitting, Published, Draft, Disposed, Held, Failed };

// The durable record of what became of each video, so that a crash at any
// moment never publishes a video twice and never deletes one that is not in
// the studio. Append-only JSON lines in data/publish-journal.jsonl, each on
// disk before record() returns; lookups use an index held in memory. When
// the file has grown past a size and at least half of it is superseded
// lines, it is rewritten atomically with one line per identity in its last
// state. Thread-safe: one writer at a time.
class PublishJournal final {
public:
    static constexpr qint64 kDefaultCompactBytes = 8 * 1024 * 1024;

    explicit PublishJournal(const QString &path = defaultPath(), qint64 compactBytes = kDefaultCompactBytes);
    Q_DISABLE_COPY_MOVE(PublishJournal)

    static QString defaultPath();
    QString path() const { return m_path; }
    // The file size past which it is compacted; takes effect at the next
    // record() or reload().
    void setCompactBytes(qint64 bytes);

    // Reads the whole file again; a line that is cut off or does not parse
    // (a crash mid-write, junk) is skipped and logged, never fatal.
    void reload();
    // Appends one line and syncs it to disk before returning; false (with the
    // reason logged) when it could not be written. The index changes only
    // with a line that is on disk: a failed write is cut off the file again
    // where it can be, and is never read back as an entry.
    bool record(const VideoIdentity &id, JournalState state, const QString &reason = {});

    // The latest state recorded for this video (sha256, size and account),
    // None when unknown.
    JournalState stateOf(const QByteArray &sha256Hex, qint64 size, const QString &account) const;
    // The latest identity recorded for this video (title, name, publishedAt).
    std::optional<VideoIdentity> find(const QByteArray &sha256Hex, qint64 size, const QString &account) const;
    // True when some entry has this size and file name (letter case aside),
    // whatever its account: the cheap test done before hashing a picked file.
    bool mayHold(qint64 size, const QString &name) const;
    // How many videos of this account the journal holds as in the studio
    // (latest state published, draft or disposed) under exactly this title.
    int countWithTitle(const QString &account, const QString &title) const;
    // The latest scheduled time of this account's videos the studio has or
    // may have (submitting, published, draft, disposed, held); "" when none.
    QString lastScheduledOf(const QString &account) const;

private:
    struct Entry {
        VideoIdentity id;
        JournalState state = JournalState::None;
        QString time; // of the latest line, as written
        // As written too: turned into a date only when asked for, as each
        // conversion of a local time reads the system's time zone again.
        QString publishedAt;
        qint64 sequence = 0; // of the latest line, to keep the file's order
    };
    struct Index {
        QHash<QByteArray, Entry> entries; // by sha256, size and account
        QSet<QPair<qint64, QString>> sizeNames;
        qint64 nextSequence = 0;
        qint64 lines = 0; // in the file, junk included
        qint64 fileBytes = 0; // the file's size as this instance last left it
        void add(const VideoIdentity &id, JournalState state, const QString &time, const QString &publishedAt);
    };
    // The whole file into the index; false (logged, the index as it was)
    // when it could not be read to its end.
    bool readLocked();
    static VideoIdentity identityOf(const Entry &entry);
    // Rewrites the file when it is large and mostly superseded lines.
    void compactIfDueLocked();
    bool compactLocked();

    const QString m_path;
    mutable std::mutex m_mutex;
    qint64 m_compactBytes = kDefaultCompactBytes;
    Index m_index;
    // False once another instance may have appended lines this one has not read.
    bool m_holdsWholeFile = false;
    qint64 m_retryCompactAtLines = 0; // after a failed compaction
};

// The journal's name of a state ("submitting" …) and back; "" and None for
// what is none of them.
QString journalStateName(JournalState state);
JournalState journalStateFromName(QStringView name);

// SHA-256 of a file's bytes in lower-case hex, read in 1 MiB blocks; empty on
// a read error (logged), or when `abandon` is set before the last block.
QByteArray sha256OfFile(const QString &path, const std::atomic<bool> *abandon = nullptr);
