#include "upload/publish_journal.h"

#include "base/atomic_file.h"
#include "base/run_directory.h"
#include "upload/file_sync.h"
#include "upload/log.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

namespace {

// Real lines are ~250 bytes; a "line" far longer is junk and not held in memory.
constexpr qint64 kMaxLineBytes = 64 * 1024;
// Error texts can be long; the start says why.
constexpr qsizetype kMaxReasonChars = 2000;
constexpr qint64 kHashBlockBytes = 1024 * 1024;

struct StateName {
    JournalState state;
    const char16_t *name;
};
constexpr std::array<StateName, 6> kStateNames{{
    {JournalState::Submitting, u"submitting"},
    {JournalState::Published, u"published"},
    {JournalState::Draft, u"draft"},
    {JournalState::Disposed, u"disposed"},
    {JournalState::Held, u"held"},
    {JournalState::Failed, u"failed"},
}};

QByteArray keyOf(const QByteArray &sha256Hex, qint64 size, const QString &account)
{
    // The account comes last, so no text of it can make two keys alike.
    return sha256Hex.toLower() + '/' + QByteArray::number(size) + '/' + account.toUtf8();
}

QPair<qint64, QString> sizeNameOf(qint64 size, const QString &name)
{
    return {size, name.toCaseFolded()};
}

bool isSha256Hex(const QByteArray &text)
{
    return text.size() == 64 && std::all_of(text.cbegin(), text.cend(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

bool isInStudio(JournalState state)
{
    return state == JournalState::Published || state == JournalState::Draft || state == JournalState::Disposed;
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(Qt::ISODate) : QString();
}

QByteArray lineOf(const VideoIdentity &id, JournalState state, const QString &time, const QString &reason, const QString &publishedAt = {})
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto text = [&writer](const char *key, const QByteArray &value) {
        writer.Key(key);
        writer.String(value.constData(), static_cast<rapidjson::SizeType>(value.size()));
    };
    writer.StartObject();
    text("state", journalStateName(state).toUtf8());
    text("sha256", id.sha256Hex.toLower());
    writer.Key("size");
    writer.Int64(id.size);
    text("name", id.name.toUtf8());
    text("account", id.account.toUtf8());
    text("title", id.title.toUtf8());
    if (!id.scheduledAt.isEmpty())
        text("scheduled_at", id.scheduledAt.toUtf8());
    text("time", time.toUtf8());
    // Only a compacted line needs it: elsewhere the published line's own time says it.
    if (!publishedAt.isEmpty())
        text("publishedAt", publishedAt.toUtf8());
    if (!reason.isEmpty())
        text("reason", reason.left(kMaxReasonChars).toUtf8());
    writer.EndObject();
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize())) + '\n';
}

QString stringMember(const rapidjson::Value &object, const char *key)
{
    const auto it = object.FindMember(key);
    if (it == object.MemberEnd() || !it->value.IsString())
        return {};
    return QString::fromUtf8(it->value.GetString(), static_cast<qsizetype>(it->value.GetStringLength()));
}

struct JournalLine {
    VideoIdentity id;
    JournalState state = JournalState::None;
    QString time;
    QString publishedAt; // a compacted line's
};

// One line of the file, or nullopt when it is no whole, sound entry.
std::optional<JournalLine> parseLine(const QByteArray &line)
{
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(line.constData(), static_cast<size_t>(line.size()));
    if (doc.HasParseError() || !doc.IsObject())
        return std::nullopt;
    JournalLine parsed;
    parsed.state = journalStateFromName(stringMember(doc, "state"));
    const auto size = doc.FindMember("size");
    VideoIdentity &id = parsed.id;
    id.sha256Hex = stringMember(doc, "sha256").toLatin1().toLower();
    if (parsed.state == JournalState::None || !isSha256Hex(id.sha256Hex) || size == doc.MemberEnd() || !size->value.IsInt64()
        || size->value.GetInt64() < 0)
        return std::nullopt;
    id.size = size->value.GetInt64();
    id.name = stringMember(doc, "name");
    id.account = stringMember(doc, "account");
    id.title = stringMember(doc, "title");
    id.scheduledAt = stringMember(doc, "scheduled_at");
    parsed.time = stringMember(doc, "time");
    parsed.publishedAt = stringMember(doc, "publishedAt");
    return parsed;
}

// Reads up to the next newline; a line too long to be an entry is passed
// over whole and comes back empty, with `tooLong` set.
QByteArray readLine(QFile &file, bool *tooLong)
{
    QByteArray line = file.readLine(kMaxLineBytes);
    // Short of a newline but not at the end: the limit cut it.
    *tooLong = !line.endsWith('\n') && !file.atEnd();
    if (!*tooLong)
        return line;
    while (!file.atEnd() && !file.readLine(kMaxLineBytes).endsWith('\n')) {
    }
    return {};
}

// True when the file is empty or its last byte ends a line: a line cut off by
// a crash must not swallow the next one.
bool endsWithNewline(QFile &file)
{
    const qint64 size = file.size();
    if (size == 0)
        return true;
    char last = 0;
    return file.seek(size - 1) && file.read(&last, 1) == 1 && last == '\n';
}

} // namespace

QString journalStateName(JournalState state)
{
    for (const StateName &entry : kStateNames) {
        if (entry.state == state)
            return QString::fromUtf16(entry.name);
    }
    return {};
}

JournalState journalStateFromName(QStringView name)
{
    for (const StateName &entry : kStateNames) {
        if (name == QStringView(entry.name))
            return entry.state;
    }
    return JournalState::None;
}

PublishJournal::PublishJournal(const QString &path, qint64 compactBytes)
    : m_path(path)
    , m_compactBytes(compactBytes)
{
    reload();
}

QString PublishJournal::defaultPath()
{
    return rundir::join(u"data/publish-journal.jsonl");
}

void PublishJournal::setCompactBytes(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_compactBytes = bytes;
}

void PublishJournal::reload()
{
    std::lock_guard lock(m_mutex);
    if (readLocked())
        compactIfDueLocked();
}

bool PublishJournal::readLocked()
{
    Index index;
    QFile file(m_path);
    if (!file.exists()) {
        m_index = std::move(index);
        m_holdsWholeFile = true;
        return true;
    }
    // Forgetting what the file holds would let a video go out twice: on a
    // failed read the index stays as it was.
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload) << "cannot read the publish journal" << m_path << "--" << file.errorString();
        return false;
    }
    index.fileBytes = file.size();
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        bool tooLong = false;
        const QByteArray line = readLine(file, &tooLong);
        if (tooLong) {
            ++index.lines;
            qCWarning(lcUpload) << "publish journal" << m_path << "line" << lineNumber << "is too long to be an entry; skipped";
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        ++index.lines;
        if (!line.endsWith('\n')) {
            qCWarning(lcUpload) << "publish journal" << m_path << "line" << lineNumber << "is cut off (an interrupted write); skipped";
            continue;
        }
        const auto entry = parseLine(line.trimmed());
        if (!entry) {
            qCWarning(lcUpload) << "publish journal" << m_path << "line" << lineNumber << "is no journal entry; skipped:" << line.left(120).trimmed();
            continue;
        }
        index.add(entry->id, entry->state, entry->time, entry->publishedAt);
    }
    if (file.error() != QFileDevice::NoError) {
        qCWarning(lcUpload) << "reading the publish journal" << m_path << "stopped at line" << lineNumber << "--" << file.errorString();
        return false;
    }
    m_index = std::move(index);
    m_holdsWholeFile = true;
    return true;
}

bool PublishJournal::record(const VideoIdentity &id, JournalState state, const QString &reason)
{
    if (state == JournalState::None || !isSha256Hex(id.sha256Hex) || id.size < 0) {
        qCWarning(lcUpload) << "publish journal: refused an entry without a state or a sound identity:" << id.sha256Hex << id.size << id.name;
        return false;
    }
    // Whole seconds, as written: the index holds what a reload would read.
    const QString time = timeText(QDateTime::currentDateTime());
    const QByteArray line = lineOf(id, state, time, reason);
    // reload() would pass over it: an entry that cannot be read back is no record.
    if (line.size() >= kMaxLineBytes) {
        qCWarning(lcUpload) << "publish journal: refused an entry of" << line.size() << "bytes for" << id.name;
        return false;
    }
    std::lock_guard lock(m_mutex);
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        qCWarning(lcUpload) << "cannot make the folder of the publish journal" << m_path;
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        qCWarning(lcUpload) << "cannot open the publish journal" << m_path << "--" << file.errorString();
        return false;
    }
    const qint64 before = file.size();
    // A last line without its newline was never confirmed by record(): the
    // mark keeps it unreadable, so that it does not turn into an entry once
    // a newline follows it.
    const bool unterminated = !endsWithNewline(file);
    const QByteArray bytes = unterminated ? "#\n" + line : line;
    const bool written = file.write(bytes) == bytes.size();
    if (!written)
        qCWarning(lcUpload) << "cannot write to the publish journal" << m_path << "--" << file.errorString();
    if (!written || !syncToDisk(file)) {
        // Not surely on disk, so not in the index; and cut off the file
        // again, so that no later reload reads what this one refused.
        if (!file.resize(before) || !syncToDisk(file))
            qCWarning(lcUpload) << "publish journal" << m_path << "could not be cut back to" << before << "bytes after a failed write --"
                                << file.errorString();
        return false;
    }
    if (before != m_index.fileBytes)
        m_holdsWholeFile = false;
    m_index.fileBytes = file.size();
    m_index.lines += unterminated ? 2 : 1;
    file.close();
    m_index.add(id, state, time, {});
    compactIfDueLocked();
    return true;
}

QString PublishJournal::lastScheduledOf(const QString &account) const
{
    std::lock_guard lock(m_mutex);
    QString last;
    for (const Entry &e : m_index.entries) {
        if (e.id.account == account && e.state != JournalState::Failed && e.state != JournalState::None && e.id.scheduledAt > last)
            last = e.id.scheduledAt; // the fixed format sorts as text
    }
    return last;
}

void PublishJournal::Index::add(const VideoIdentity &id, JournalState state, const QString &time, const QString &publishedAt)
{
    VideoIdentity stored = id;
    stored.sha256Hex = id.sha256Hex.toLower();
    stored.publishedAt = {};
    Entry &entry = entries[keyOf(stored.sha256Hex, stored.size, stored.account)];
    // Kept through later lines that do not repeat it.
    if (stored.scheduledAt.isEmpty())
        stored.scheduledAt = entry.id.scheduledAt;
    if (!publishedAt.isEmpty())
        entry.publishedAt = publishedAt;
    else if (state == JournalState::Published || state == JournalState::Draft)
        entry.publishedAt = time;
    entry.id = stored;
    entry.state = state;
    entry.time = time;
    entry.sequence = nextSequence++;
    sizeNames.insert(sizeNameOf(stored.size, stored.name));
}

VideoIdentity PublishJournal::identityOf(const Entry &entry)
{
    VideoIdentity id = entry.id;
    id.publishedAt = QDateTime::fromString(entry.publishedAt, Qt::ISODate);
    return id;
}

void PublishJournal::compactIfDueLocked()
{
    // Only once half the lines are superseded: a file of many videos each in
    // its last state stays as it is, and rewrites cost a fixed share of the
    // appends however long the history grows.
    const qint64 identities = std::max<qint64>(m_index.entries.size(), 1);
    if (m_index.fileBytes <= m_compactBytes || m_index.lines < 2 * identities || m_index.lines < m_retryCompactAtLines)
        return;
    if (compactLocked()) {
        m_retryCompactAtLines = 0;
        return;
    }
    // A full disk would fail every time: again after half as many lines more.
    m_retryCompactAtLines = m_index.lines + m_index.lines / 2;
}

bool PublishJournal::compactLocked()
{
    // Every line of the file must reach the new one, also those another
    // instance appended since this one read it.
    if (!m_holdsWholeFile || QFileInfo(m_path).size() != m_index.fileBytes) {
        if (!readLocked()) {
            qCWarning(lcUpload) << "publish journal" << m_path << "not compacted: it could not be read again";
            return false;
        }
    }
    QList<const Entry *> entries;
    entries.reserve(m_index.entries.size());
    for (const Entry &entry : std::as_const(m_index.entries))
        entries.append(&entry);
    std::sort(entries.begin(), entries.end(), [](const Entry *a, const Entry *b) { return a->sequence < b->sequence; });
    QByteArray content;
    content.reserve(m_index.fileBytes / 2);
    for (const Entry *entry : std::as_const(entries))
        content += lineOf(entry->id, entry->state, entry->time, {}, entry->publishedAt);
    if (!writeFileAtomic(m_path, content)) {
        qCWarning(lcUpload) << "compacting the publish journal" << m_path << "failed; the old file stays";
        return false;
    }
    qCInfo(lcUpload) << "publish journal" << m_path << "compacted from" << m_index.lines << "lines," << m_index.fileBytes << "bytes to"
                     << entries.size() << "lines," << content.size() << "bytes";
    m_index.lines = entries.size();
    m_index.fileBytes = content.size();
    return true;
}

JournalState PublishJournal::stateOf(const QByteArray &sha256Hex, qint64 size, const QString &account) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_index.entries.constFind(keyOf(sha256Hex, size, account));
    return it == m_index.entries.cend() ? JournalState::None : it->state;
}

std::optional<VideoIdentity> PublishJournal::find(const QByteArray &sha256Hex, qint64 size, const QString &account) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_index.entries.constFind(keyOf(sha256Hex, size, account));
    if (it == m_index.entries.cend())
        return std::nullopt;
    return identityOf(*it);
}

bool PublishJournal::mayHold(qint64 size, const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return m_index.sizeNames.contains(sizeNameOf(size, name));
}

int PublishJournal::countWithTitle(const QString &account, const QString &title) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_index.entries.cbegin(), m_index.entries.cend(), [&](const Entry &entry) {
        return isInStudio(entry.state) && entry.id.account == account && entry.id.title == title;
    }));
}

QByteArray sha256OfFile(const QString &path, const std::atomic<bool> *abandon)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload) << "cannot read" << path << "to hash it --" << file.errorString();
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(kHashBlockBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0) {
            qCWarning(lcUpload) << "reading" << path << "to hash it failed --" << file.errorString();
            return {};
        }
        if (got == 0)
            break;
        if (abandon && *abandon) {
            qCInfo(lcUpload) << "the hash of" << path << "is no longer wanted; it stops";
            return {};
        }
        hash.addData(QByteArrayView(block.constData(), got));
    }
    return hash.result().toHex();
}
