#pragma once

#include <QSet>
#include <QString>

#include <mutex>

// The accounts finished in the current pass of a run, kept in data/pass.json
// so that Stop, a crash or a reboot followed by Start resumes the pass with
// only the accounts not finished: with lanes the account number shows the
// lowest unfinished account, and every finished account above it would
// otherwise publish its quota a second time that day. Thread-safe.
class PassProgress final {
public:
    explicit PassProgress(const QString &path = defaultPath());
    Q_DISABLE_COPY_MOVE(PassProgress)

    static QString defaultPath();

    // At the start of a pass: resumes the pass on file when the run starts
    // from the account number that pass began at or left in the box, and
    // forgets it otherwise (the user began a pass of his own).
    void begin(const QString &sequenceText);
    bool isFinished(const QString &accountId) const;
    // The account is done for this pass; `sequenceText` is what the box
    // shows now. On disk before it returns (false, logged, when not).
    bool finish(const QString &accountId, const QString &sequenceText);
    // The pass went through to its end: nothing is left to resume.
    void clear();

private:
    bool saveLocked() const;

    const QString m_path;
    mutable std::mutex m_mutex;
    QString m_start;    // the account number the pass began at
    QString m_sequence; // the number the box showed at the last finish
    QSet<QString> m_finished;
};
