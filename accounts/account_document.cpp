#include "accounts/account_document.h"

#include "accounts/log.h"
#include "base/atomic_file.h"
#include "base/gbk.h"

#include <QFile>

#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <mutex>

namespace {
// Account files are a few hundred bytes; anything far larger is not one.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
} // namespace

AccountDocument::AccountDocument()
{
    m_doc.SetObject();
}

bool AccountDocument::loadFile(const QString &path, QString *why)
{
    QString reason;
    QByteArray bytes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        reason = QStringLiteral("cannot read the account file %1: %2").arg(path, file.errorString());
    else if (file.size() > kMaxFileBytes)
        reason = QStringLiteral("the account file %1 is %2 bytes, too large to be one").arg(path).arg(file.size());
    else
        bytes = file.readAll();
    const QByteArray utf8 = gbk::decodeUtf8OrGbk(bytes).toUtf8();

    rapidjson::Document parsed;
    // Iterative parsing: a deeply nested junk file cannot exhaust the stack.
    parsed.Parse<rapidjson::kParseIterativeFlag>(utf8.constData(), static_cast<size_t>(utf8.size()));
    std::lock_guard lock(m_mutex);
    if (parsed.HasParseError() || !parsed.IsObject()) {
        if (reason.isEmpty() && parsed.HasParseError())
            reason = QStringLiteral("the account file %1 is no JSON: %2 at byte %3")
                         .arg(path, QString::fromUtf8(rapidjson::GetParseError_En(parsed.GetParseError())))
                         .arg(parsed.GetErrorOffset());
        else if (reason.isEmpty())
            reason = QStringLiteral("the account file %1 holds no JSON object").arg(path);
        qCWarning(lcAccounts).noquote() << reason;
        if (why)
            *why = reason;
        m_doc.SetObject();
        return false;
    }
    m_doc.Swap(parsed);
    if (why)
        why->clear();
    return true;
}

bool AccountDocument::saveFile(const QString &path) const
{
    rapidjson::StringBuffer buffer;
    {
        std::lock_guard lock(m_mutex);
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        m_doc.Accept(writer);
    }
    return writeFileAtomic(path, QByteArrayView(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize())));
}

QString AccountDocument::value(const QString &key) const
{
    const QByteArray k = key.toUtf8();
    std::lock_guard lock(m_mutex);
    const auto it = m_doc.FindMember(rapidjson::StringRef(k.constData(), static_cast<rapidjson::SizeType>(k.size())));
    if (it == m_doc.MemberEnd() || !it->value.IsString())
        return {};
    return QString::fromUtf8(it->value.GetString(), it->value.GetStringLength());
}

void AccountDocument::setValue(const QString &key, const QString &text)
{
    const QByteArray k = key.toUtf8();
    const QByteArray v = text.toUtf8();
    std::lock_guard lock(m_mutex);
    auto &alloc = m_doc.GetAllocator();
    rapidjson::Value value(v.constData(), static_cast<rapidjson::SizeType>(v.size()), alloc);
    const auto it = m_doc.FindMember(rapidjson::StringRef(k.constData(), static_cast<rapidjson::SizeType>(k.size())));
    if (it != m_doc.MemberEnd()) {
        it->value = value;
        return;
    }
    rapidjson::Value name(k.constData(), static_cast<rapidjson::SizeType>(k.size()), alloc);
    m_doc.AddMember(name, value, alloc);
}

void AccountDocument::remove(const QString &key)
{
    const QByteArray k = key.toUtf8();
    std::lock_guard lock(m_mutex);
    m_doc.EraseMember(rapidjson::StringRef(k.constData(), static_cast<rapidjson::SizeType>(k.size())));
}

void AccountDocument::clear()
{
    std::lock_guard lock(m_mutex);
    m_doc.SetObject();
}

bool AccountDocument::holdsNonText(const QString &key) const
{
    const QByteArray k = key.toUtf8();
    std::lock_guard lock(m_mutex);
    const auto it = m_doc.FindMember(rapidjson::StringRef(k.constData(), static_cast<rapidjson::SizeType>(k.size())));
    return it != m_doc.MemberEnd() && !it->value.IsString();
}

bool AccountDocument::contains(const QString &key) const
{
    const QByteArray k = key.toUtf8();
    std::lock_guard lock(m_mutex);
    return m_doc.HasMember(rapidjson::StringRef(k.constData(), static_cast<rapidjson::SizeType>(k.size())));
}

QString AccountDocument::toJson() const
{
    rapidjson::StringBuffer buffer;
    std::lock_guard lock(m_mutex);
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    m_doc.Accept(writer);
    return QString::fromUtf8(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

AccountDocument &accountDocument()
{
    static AccountDocument instance;
    return instance;
}
