#include "upload/publish_journal.h"

#include "base/run_directory.h"
#include "upload/file_sync.h"
#include "upload/log.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>

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

QByteArray keyOf(const QByteArray &sha256Hex, qint64 size)
{
    return sha256Hex.toLower() + '/' + QByteArray::number(size);
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

QByteArray lineOf(const VideoIdentity &id, JournalState state, const QString &reason)
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
    text("time", QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8());
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

// One line of the file, or nullopt when it is no whole, sound entry.
std::optional<QPair<VideoIdentity, JournalState>> parseLine(const QByteArray &line)
{
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(line.constData(), static_cast<size_t>(line.size()));
    if (doc.HasParseError() || !doc.IsObject())
        return std::nullopt;
    const JournalState state = journalStateFromName(stringMember(doc, "state"));
    const auto size = doc.FindMember("size");
    VideoIdentity id;
    id.sha256Hex = stringMember(doc, "sha256").toLatin1().toLower();
    if (state == JournalState::None || !isSha256Hex(id.sha256Hex) || size == doc.MemberEnd() || !size->value.IsInt64() || size->value.GetInt64() < 0)
        return std::nullopt;
    id.size = size->value.GetInt64();
    id.name = stringMember(doc, "name");
    id.account = stringMember(doc, "account");
    id.title = stringMember(doc, "title");
    return qMakePair(id, state);
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

PublishJournal::PublishJournal(const QString &path)
    : m_path(path)
{
    reload();
}

QString PublishJournal::defaultPath()
{
    return rundir::join(u"data/publish-journal.jsonl");
}

void PublishJournal::reload()
{
    QMutexLocker lock(&m_mutex);
    m_entries.clear();
    m_sizeNames.clear();
    m_nextOrder = 0;
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload) << "cannot read the publish journal" << m_path << "--" << file.errorString();
        return;
    }
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        bool tooLong = false;
        const QByteArray line = readLine(file, &tooLong);
        if (tooLong) {
            qCWarning(lcUpload) << "publish journal" << m_path << "line" << lineNumber << "is too long to be an entry; skipped";
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        if (!line.endsWith('\n')) {
            qCWarning(lcUpload) << "publish journal" << m_path << "line" << lineNumber << "is cut off (an interrupted write); skipped";
            continue;
        }
        const auto entry = parseLine(line.trimmed());
        if (!entry) {
            qCWarning(lcUpload) << "publish journal" << m_path << "line" << lineNumber << "is no journal entry; skipped:" << line.left(120).trimmed();
            continue;
        }
        indexLocked(entry->first, entry->second);
    }
    if (file.error() != QFileDevice::NoError)
        qCWarning(lcUpload) << "reading the publish journal" << m_path << "stopped at line" << lineNumber << "--" << file.errorString();
}

bool PublishJournal::record(const VideoIdentity &id, JournalState state, const QString &reason)
{
    if (state == JournalState::None || !isSha256Hex(id.sha256Hex) || id.size < 0) {
        qCWarning(lcUpload) << "publish journal: refused an entry without a state or a sound identity:" << id.sha256Hex << id.size << id.name;
        return false;
    }
    const QByteArray line = lineOf(id, state, reason);
    // reload() would pass over it: an entry that cannot be read back is no record.
    if (line.size() >= kMaxLineBytes) {
        qCWarning(lcUpload) << "publish journal: refused an entry of" << line.size() << "bytes for" << id.name;
        return false;
    }
    QMutexLocker lock(&m_mutex);
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        qCWarning(lcUpload) << "cannot make the folder of the publish journal" << m_path;
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        qCWarning(lcUpload) << "cannot open the publish journal" << m_path << "--" << file.errorString();
        return false;
    }
    const QByteArray bytes = endsWithNewline(file) ? line : '\n' + line;
    if (file.write(bytes) != bytes.size()) {
        qCWarning(lcUpload) << "cannot write to the publish journal" << m_path << "--" << file.errorString();
        return false;
    }
    if (!syncToDisk(file))
        return false;
    indexLocked(id, state);
    return true;
}

void PublishJournal::indexLocked(const VideoIdentity &id, JournalState state)
{
    VideoIdentity stored = id;
    stored.sha256Hex = id.sha256Hex.toLower();
    Entry &entry = m_entries[keyOf(stored.sha256Hex, stored.size)];
    if (entry.state == JournalState::None)
        entry.order = m_nextOrder++;
    entry.id = stored;
    entry.state = state;
    m_sizeNames.insert(sizeNameOf(stored.size, stored.name));
}

JournalState PublishJournal::stateOf(const QByteArray &sha256Hex, qint64 size) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_entries.constFind(keyOf(sha256Hex, size));
    return it == m_entries.cend() ? JournalState::None : it->state;
}

bool PublishJournal::mayHold(qint64 size, const QString &name) const
{
    QMutexLocker lock(&m_mutex);
    return m_sizeNames.contains(sizeNameOf(size, name));
}

QList<VideoIdentity> PublishJournal::unsettled() const
{
    QList<const Entry *> open;
    QMutexLocker lock(&m_mutex);
    for (const Entry &entry : m_entries) {
        if (entry.state == JournalState::Submitting)
            open.append(&entry);
    }
    std::sort(open.begin(), open.end(), [](const Entry *a, const Entry *b) { return a->order < b->order; });
    QList<VideoIdentity> ids;
    ids.reserve(open.size());
    for (const Entry *entry : open)
        ids.append(entry->id);
    return ids;
}

std::optional<VideoIdentity> PublishJournal::find(const QByteArray &sha256Hex, qint64 size) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_entries.constFind(keyOf(sha256Hex, size));
    if (it == m_entries.cend())
        return std::nullopt;
    return it->id;
}

QByteArray sha256OfFile(const QString &path)
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
        hash.addData(QByteArrayView(block.constData(), got));
    }
    return hash.result().toHex();
}
