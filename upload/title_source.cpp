#include "upload/title_source.h"

#include "base/atomic_file.h"
#include "base/run_directory.h"
#include "form/form.h"
#include "upload/log.h"
#include "upload/video_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <mutex>

namespace {

// One position for every lane and job of the process. The file is read at
// each take (a restart, or another job, finds it there); what this process
// took last is kept too, for a file that could not be written.
struct KeptPosition {
    QByteArray sha256;
    qint64 next = 0;
    bool fileBehind = false;
};
std::mutex g_positionMutex;
QHash<QString, KeptPosition> g_kept; // by position file

QByteArray hashOf(const QStringList &lines)
{
    return QCryptographicHash::hash(lines.join(u'\n').toUtf8(), QCryptographicHash::Sha256).toHex();
}

// The next line to take from the file; -1 when it is missing, unreadable,
// or belongs to another library.
qint64 readPosition(const QString &path, const QByteArray &sha256)
{
    QFile file(path);
    if (!file.exists())
        return -1;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcUpload) << "cannot read the title position" << path << "--" << file.errorString() << "; the library starts at its first line";
        return -1;
    }
    const QByteArray bytes = file.read(64 * 1024);
    rapidjson::Document doc;
    doc.Parse(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("next") || !doc["next"].IsInt64() || !doc.HasMember("sha256")
        || !doc["sha256"].IsString() || doc["next"].GetInt64() < 0) {
        qCWarning(lcUpload) << "the title position" << path << "cannot be read as one; the library starts at its first line";
        return -1;
    }
    if (QByteArray(doc["sha256"].GetString(), static_cast<qsizetype>(doc["sha256"].GetStringLength())) != sha256) {
        qCInfo(lcUpload) << "the title library changed since its position was kept; it starts at its first line";
        return -1;
    }
    return doc["next"].GetInt64();
}

bool writePosition(const QString &path, const QByteArray &sha256, qint64 next, qsizetype lines)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("next");
    writer.Int64(next);
    writer.Key("lines");
    writer.Int64(lines);
    writer.Key("sha256");
    writer.String(sha256.constData(), static_cast<rapidjson::SizeType>(sha256.size()));
    writer.EndObject();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!writeFileAtomic(path, QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize())) + '\n')) {
        qCWarning(lcUpload) << "cannot write the title position" << path << "; this run keeps it in memory";
        return false;
    }
    return true;
}

} // namespace

TitleSource::TitleSource(Form &form)
    : m_form(form)
{
}

QStringList TitleSource::libraryLines(const QString &text)
{
    QStringList lines;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed(); // also the CR of CR LF
        if (!line.isEmpty())
            lines.append(line.toString());
    }
    return lines;
}

QString TitleSource::positionFilePath()
{
    return rundir::join(u"data/title-position.json");
}

QString TitleSource::nextInOrder(const QStringList &lines)
{
    const QString path = positionFilePath();
    const QByteArray sha256 = hashOf(lines);
    std::lock_guard lock(g_positionMutex);
    KeptPosition kept = g_kept.value(path);
    if (!kept.fileBehind || kept.sha256 != sha256)
        kept.next = std::max<qint64>(readPosition(path, sha256), 0);
    const qint64 index = kept.next % lines.size();
    kept.sha256 = sha256;
    kept.next = index + 1;
    kept.fileBehind = !writePosition(path, sha256, kept.next, lines.size());
    g_kept.insert(path, kept);
    return lines.at(index);
}

TitleChoice TitleSource::choose(const QString &videoPath)
{
    TitleChoice choice;
    const VideoMetadata metadata = videofiles::readMetadata(videoPath);
    QString text = metadata.title;
    choice.tags = metadata.tags;
    if (text.isEmpty()) {
        const bool random = m_form.isChecked(QStringLiteral("单选框4"));
        const bool inOrder = m_form.isChecked(QStringLiteral("单选框5"));
        if (random || inOrder) {
            const QStringList lines = libraryLines(m_form.text(QStringLiteral("编辑框3")));
            if (lines.isEmpty())
                choice.libraryEmpty = true;
            else if (random)
                text = lines.at(static_cast<qsizetype>(QRandomGenerator::global()->bounded(static_cast<quint32>(lines.size()))));
            else
                text = nextInOrder(lines);
        }
        if (text.isEmpty())
            text = videofiles::fileNameOf(videoPath, false);
    }
    choice.title = m_form.text(QStringLiteral("编辑框_标题前")) + text + m_form.text(QStringLiteral("编辑框_标题后"));
    return choice;
}
