#include "browser/json_document.h"

#include "base/gbk.h"
#include "browser/log.h"

#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>

class JsonDocumentPrivate final {
public:
    rapidjson::Document doc;
    bool parsed = false;
    QByteArray source;

    bool tryParse(const QByteArray &text)
    {
        // Validating the encoding is what lets a GBK text fall through to the
        // attempt that converts it.
        doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.constData(), static_cast<std::size_t>(text.size()));
        parsed = !doc.HasParseError();
        if (parsed)
            source = text;
        return parsed;
    }

    const rapidjson::Value *atPath(const QString &path) const
    {
        if (!parsed)
            return nullptr;
        if (path.isEmpty())
            return &doc;
        const rapidjson::Pointer pointer(JsonDocument::toPointer(path).toUtf8().constData());
        return pointer.IsValid() ? pointer.Get(doc) : nullptr;
    }

    // A plain member name of the root, or a path.
    const rapidjson::Value *atKey(const QString &key) const
    {
        if (JsonDocument::isPath(key))
            return atPath(key);
        if (!parsed || !doc.IsObject())
            return nullptr;
        const QByteArray name = key.toUtf8();
        const auto it = doc.FindMember(rapidjson::StringRef(name.constData(), static_cast<rapidjson::SizeType>(name.size())));
        return it == doc.MemberEnd() ? nullptr : &it->value;
    }
};

namespace {

QByteArray toGbk(const QByteArray &utf8)
{
    return utf8.isEmpty() ? utf8 : gbk::encode(QString::fromUtf8(utf8));
}

QByteArray serialise(const rapidjson::Value &value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return QByteArray(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

void replaceAll(QByteArray &text, const char *from, const char *to)
{
    text.replace(QByteArray(from), QByteArray(to));
}

} // namespace

JsonDocument::JsonDocument() : d(std::make_unique<JsonDocumentPrivate>()) {}
JsonDocument::~JsonDocument() = default;

JsonDocument::JsonDocument(const JsonDocument &other) : d(std::make_unique<JsonDocumentPrivate>())
{
    *this = other;
}

JsonDocument &JsonDocument::operator=(const JsonDocument &other)
{
    if (this == &other)
        return *this;
    clear();
    if (other.d->parsed) {
        d->doc.CopyFrom(other.d->doc, d->doc.GetAllocator());
        d->parsed = true;
        d->source = other.d->source;
    }
    return *this;
}

bool JsonDocument::parseText(QByteArrayView text)
{
    clear();
    const qsizetype n = qMin<qsizetype>(text.size(), 100);
    if (n < 2) {
        qCDebug(lcBrowser) << "JSON text of" << text.size() << "bytes is too short to be one";
        return false;
    }
    const QByteArrayView head = text.first(n);
    if (!head.contains('{') && !head.contains('[')) {
        qCDebug(lcBrowser) << "JSON text of" << text.size() << "bytes has no { or [ in its first 100 bytes";
        return false;
    }
    const QByteArray original = text.toByteArray();
    if (d->tryParse(original))
        return true;
    const QByteArray repaired = repairEscapes(original);
    if (d->tryParse(repaired))
        return true;
    bool wide = false;
    for (char c : repaired)
        wide = wide || static_cast<unsigned char>(c) > 0x7F;
    const bool parsed = isUtf8(repaired) && wide ? d->tryParse(gbk::encode(QString::fromUtf8(repaired)))
                                                 : d->tryParse(gbk::decode(repaired).toUtf8());
    if (!parsed)
        qCDebug(lcBrowser) << "JSON text of" << text.size() << "bytes does not parse, as it stands, with its escapes repaired, or in either encoding";
    return parsed;
}

bool JsonDocument::parseIntegers(const QList<qint64> &values)
{
    JsonWriter writer;
    writer.startArray();
    for (qint64 v : values)
        writer.addInt64(v);
    return parseText(writer.text());
}

bool JsonDocument::parseTexts(const QStringList &values)
{
    JsonWriter writer;
    writer.startArray();
    for (const QString &v : values)
        writer.addString(v);
    return parseText(writer.text());
}

void JsonDocument::clear()
{
    d->doc.SetNull();
    rapidjson::Document().Swap(d->doc); // frees the allocator's pages too
    d->parsed = false;
    d->source.clear();
}

bool JsonDocument::isParsed() const
{
    return d->parsed;
}

QByteArray JsonDocument::valueJson(const QString &path, bool raw, const QByteArray &defaultValue) const
{
    const rapidjson::Value *v = d->atPath(path);
    if (!v)
        return defaultValue;
    const QByteArray json = serialise(*v);
    return raw ? json : toGbk(json);
}

QByteArray JsonDocument::memberJson(const QString &key, bool raw, const QByteArray &defaultValue) const
{
    const rapidjson::Value *v = d->atKey(key);
    if (!v)
        return defaultValue;
    const QByteArray json = serialise(*v);
    return raw ? json : toGbk(json);
}

QByteArray JsonDocument::getText(const QString &key, bool raw, const QByteArray &defaultValue) const
{
    const rapidjson::Value *v = d->atKey(key);
    QByteArray out;
    if (v && v->IsString())
        out = QByteArray(v->GetString(), static_cast<qsizetype>(v->GetStringLength()));
    if (!raw)
        out = toGbk(out);
    return out.isEmpty() && !defaultValue.isEmpty() ? defaultValue : out;
}

QByteArray JsonDocument::getBytes(const QString &key) const
{
    QByteArray text = getText(key, true);
    if (text.startsWith("0xByte"))
        text.remove(0, 6);
    return QByteArray::fromHex(text);
}

int JsonDocument::getInt(const QString &key, int defaultValue) const
{
    const rapidjson::Value *v = d->atKey(key);
    int value = 0;
    if (v && v->IsInt())
        value = v->GetInt();
    else if (v && v->IsNumber() && std::abs(v->GetDouble()) < 2147483648.0)
        value = static_cast<int>(v->GetDouble());
    return value == 0 ? defaultValue : value;
}

qint64 JsonDocument::getInt64(const QString &key, qint64 defaultValue) const
{
    const rapidjson::Value *v = d->atKey(key);
    qint64 value = 0;
    if (v && v->IsInt64())
        value = v->GetInt64();
    else if (v && v->IsNumber() && std::abs(v->GetDouble()) < 9.2e18)
        value = static_cast<qint64>(v->GetDouble());
    return value == 0 ? defaultValue : value;
}

double JsonDocument::getDouble(const QString &key, double defaultValue) const
{
    const rapidjson::Value *v = d->atKey(key);
    const double value = v && v->IsNumber() ? v->GetDouble() : 0.0;
    return std::abs(value) <= 1e-7 && std::abs(defaultValue) > 1e-7 ? defaultValue : value;
}

float JsonDocument::getFloat(const QString &key, float defaultValue) const
{
    const rapidjson::Value *v = d->atKey(key);
    const float value = v && v->IsNumber() ? static_cast<float>(v->GetDouble()) : 0.0f;
    return std::abs(value) <= 1e-7f && std::abs(defaultValue) > 1e-7f ? defaultValue : value;
}

bool JsonDocument::getBool(const QString &key) const
{
    const rapidjson::Value *v = d->atKey(key);
    return v && v->IsBool() && v->GetBool();
}

int JsonDocument::type(const QString &key) const
{
    const rapidjson::Value *v = d->atKey(key);
    if (!v)
        return 0;
    if (!isPath(key)) {
        if (v->IsBool())
            return TypeBoolean;
        if (v->IsString() && std::string_view(v->GetString(), v->GetStringLength()).starts_with("0xByte"))
            return TypeBytes;
    }
    return static_cast<int>(v->GetType());
}

int JsonDocument::memberNames(const QString &path, QList<QByteArray> &names) const
{
    const rapidjson::Value *v = d->atPath(path);
    if (!v || !v->IsObject())
        return 0;
    for (const auto &m : v->GetObject())
        names.append(toGbk(QByteArray(m.name.GetString(), static_cast<qsizetype>(m.name.GetStringLength()))));
    return static_cast<int>(v->MemberCount());
}

int JsonDocument::memberCount(const QString &path) const
{
    const rapidjson::Value *v = d->atPath(path);
    return v && v->IsObject() ? static_cast<int>(v->MemberCount()) : 0;
}

int JsonDocument::size(const QString &path) const
{
    const rapidjson::Value *v = d->atPath(path);
    if (v && v->IsArray())
        return static_cast<int>(v->Size());
    return v && v->IsObject() ? static_cast<int>(v->MemberCount()) : 0;
}

QString JsonDocument::elementKey(const QString &path, int index, const QString &key)
{
    return path + QLatin1Char('/') + QString::number(index - 1) + QLatin1Char('/') + key;
}

QByteArray JsonDocument::elementJson(const QString &path, int index, const QString &key, bool raw, const QByteArray &defaultValue) const
{
    return valueJson(elementKey(path, index, key), raw, defaultValue);
}

QByteArray JsonDocument::elementText(const QString &path, int index, const QString &key, bool raw, const QByteArray &defaultValue) const
{
    return getText(elementKey(path, index, key), raw, defaultValue);
}

QByteArray JsonDocument::elementBytes(const QString &path, int index, const QString &key) const
{
    return getBytes(elementKey(path, index, key));
}

int JsonDocument::elementInt(const QString &path, int index, const QString &key, int defaultValue) const
{
    return getInt(elementKey(path, index, key), defaultValue);
}

qint64 JsonDocument::elementInt64(const QString &path, int index, const QString &key, qint64 defaultValue) const
{
    return getInt64(elementKey(path, index, key), defaultValue);
}

double JsonDocument::elementDouble(const QString &path, int index, const QString &key, double defaultValue) const
{
    return getDouble(elementKey(path, index, key), defaultValue);
}

float JsonDocument::elementFloat(const QString &path, int index, const QString &key, float defaultValue) const
{
    return getFloat(elementKey(path, index, key), defaultValue);
}

bool JsonDocument::elementBool(const QString &path, int index, const QString &key) const
{
    return getBool(elementKey(path, index, key));
}

int JsonDocument::elementType(const QString &path, int index, const QString &key) const
{
    return type(elementKey(path, index, key));
}

int JsonDocument::elementMemberCount(const QString &path, int index, const QString &key) const
{
    return memberCount(elementKey(path, index, key));
}

int JsonDocument::elementSize(const QString &path, int index, const QString &key) const
{
    return size(elementKey(path, index, key));
}

QByteArray JsonDocument::sourceText() const
{
    return d->source;
}

bool JsonDocument::exists(const QString &path) const
{
    return d->atPath(path) != nullptr;
}

bool JsonDocument::isEmptyObject() const
{
    return d->source == "{}";
}

bool JsonDocument::isEmptyArray() const
{
    return d->source == "[]";
}

bool JsonDocument::remove(const QString &path)
{
    if (!d->parsed || path.isEmpty())
        return false;
    const rapidjson::Pointer pointer(toPointer(path).toUtf8().constData());
    if (!pointer.IsValid() || !pointer.Erase(d->doc))
        return false;
    d->source = serialise(d->doc);
    return true;
}

bool JsonDocument::isPath(const QString &key)
{
    return key.contains(QLatin1Char('.')) || key.contains(QLatin1Char('/')) || key.contains(QLatin1Char('['));
}

QString JsonDocument::toPointer(const QString &path)
{
    QString p = path;
    p.replace(QStringLiteral("\\."), QStringLiteral("★"));
    p.replace(QStringLiteral("\\/"), QStringLiteral("☆"));
    p.replace(QLatin1Char('.'), QLatin1Char('/'));
    p.replace(QLatin1Char('['), QLatin1Char('/'));
    p.replace(QLatin1Char(']'), QLatin1Char('/'));
    p.replace(QStringLiteral("★"), QStringLiteral("."));
    p.replace(QStringLiteral("☆"), QStringLiteral("/"));
    p.prepend(QLatin1Char('/'));
    p.replace(QStringLiteral("//"), QStringLiteral("/"));
    if (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.isEmpty() ? QStringLiteral("/") : p;
}

QByteArray JsonDocument::repairEscapes(QByteArrayView text)
{
    QByteArray out = text.toByteArray();
    replaceAll(out, "\\u", "%%%%u");
    replaceAll(out, "\\\\", "/$$$$/");
    replaceAll(out, "\\", "\\\\");
    replaceAll(out, "%%%%u", "\\u");
    replaceAll(out, "/$$$$/", "\\\\");
    replaceAll(out, "\\\\\\u", "\\\\\\\\\\u");
    return out;
}

// A lead byte's count of further one bits is the number of continuation
// bytes it announces.
bool JsonDocument::isUtf8(QByteArrayView bytes)
{
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(bytes[i++]);
        if (c < 0x80)
            continue;
        int follow = 0;
        for (c <<= 1; c & 0x80; c <<= 1)
            ++follow;
        if (follow == 0 || i + follow > n)
            return false;
        for (int k = 0; k < follow; ++k, ++i) {
            const unsigned char b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80 || b > 0xBF)
                return false;
        }
    }
    return true;
}
