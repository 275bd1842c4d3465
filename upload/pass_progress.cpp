#include "upload/pass_progress.h"

#include "base/atomic_file.h"
#include "base/run_directory.h"
#include "upload/log.h"

#include <QFile>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

void writeString(rapidjson::Writer<rapidjson::StringBuffer> &writer, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    writer.String(utf8.constData(), static_cast<rapidjson::SizeType>(utf8.size()));
}

} // namespace

PassProgress::PassProgress(const QString &path)
    : m_path(path)
{
}

QString PassProgress::defaultPath()
{
    return rundir::join(u"data/pass.json");
}

void PassProgress::begin(const QString &sequenceText)
{
    std::lock_guard lock(m_mutex);
    m_start = m_sequence = sequenceText.trimmed();
    m_finished.clear();
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload).noquote() << "the pass on file" << m_path << "could not be read:" << file.errorString() << "; a new pass begins";
        return;
    }
    const QByteArray text = file.readAll();
    rapidjson::Document doc;
    doc.Parse(text.constData(), static_cast<size_t>(text.size()));
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("sequence") || !doc["sequence"].IsString() || !doc.HasMember("finished")
        || !doc["finished"].IsArray() || !doc.HasMember("start") || !doc["start"].IsString()) {
        qCWarning(lcUpload).noquote() << "the pass on file" << m_path << "does not parse; a new pass begins";
        return;
    }
    const QString start = QString::fromUtf8(doc["start"].GetString(), doc["start"].GetStringLength());
    const QString sequence = QString::fromUtf8(doc["sequence"].GetString(), doc["sequence"].GetStringLength());
    // After a kill the settings file still holds the number the pass began
    // at; after Stop the box shows where it left off.
    if (m_start != start && m_start != sequence) {
        qCInfo(lcUpload).noquote() << "the run starts at account" << m_start << "and the pass on file began at" << start << "and left" << sequence
                                   << "; a new pass begins";
        return;
    }
    for (const rapidjson::Value &id : doc["finished"].GetArray()) {
        if (id.IsString())
            m_finished.insert(QString::fromUtf8(id.GetString(), id.GetStringLength()));
    }
    m_start = start;
    m_sequence = sequence;
    qCInfo(lcUpload).noquote() << "the pass resumes at account" << sequence << "with" << m_finished.size() << "accounts already finished";
}

bool PassProgress::isFinished(const QString &accountId) const
{
    std::lock_guard lock(m_mutex);
    return m_finished.contains(accountId);
}

bool PassProgress::finish(const QString &accountId, const QString &sequenceText)
{
    std::lock_guard lock(m_mutex);
    m_finished.insert(accountId);
    m_sequence = sequenceText.trimmed();
    return saveLocked();
}

void PassProgress::clear()
{
    std::lock_guard lock(m_mutex);
    m_finished.clear();
    if (QFile::exists(m_path) && !QFile::remove(m_path))
        qCWarning(lcUpload).noquote() << "the finished pass" << m_path << "could not be removed";
}

bool PassProgress::saveLocked() const
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("start");
    writeString(writer, m_start);
    writer.Key("sequence");
    writeString(writer, m_sequence);
    writer.Key("finished");
    writer.StartArray();
    for (const QString &id : m_finished)
        writeString(writer, id);
    writer.EndArray();
    writer.EndObject();
    if (writeFileAtomic(m_path, QByteArrayView(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()))))
        return true;
    qCWarning(lcUpload).noquote() << "the pass could not be written to" << m_path;
    return false;
}
