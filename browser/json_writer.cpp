#include "browser/json_writer.h"

#include "browser/json_document.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <vector>

class JsonWriterPrivate final {
public:
    enum Container : char { Object, Array };

    bool keyReady()
    {
        if (writer.IsComplete())
            return false;
        if (stack.empty() || stack.back() != Object)
            open(Object);
        return true;
    }
    bool valueReady()
    {
        if (writer.IsComplete())
            return false;
        if (stack.empty())
            open(Array);
        return stack.back() == Array; // a value inside an object needs a key
    }
    void open(Container c)
    {
        if (c == Object)
            writer.StartObject();
        else
            writer.StartArray();
        stack.push_back(c);
    }
    void close(Container c)
    {
        if (stack.empty() || stack.back() != c)
            return;
        if (c == Object)
            writer.EndObject();
        else
            writer.EndArray();
        stack.pop_back();
    }
    void key(const QString &name)
    {
        const QByteArray k = name.toUtf8();
        writer.Key(k.constData(), static_cast<rapidjson::SizeType>(k.size()));
    }
    void string(const QString &value)
    {
        const QByteArray v = value.toUtf8();
        writer.String(v.constData(), static_cast<rapidjson::SizeType>(v.size()));
    }
    // NaN and infinity have no JSON form.
    void number(double value)
    {
        if (std::isfinite(value))
            writer.Double(value);
        else
            writer.Null();
    }
    void raw(const QByteArray &json) { writer.RawValue(json.constData(), static_cast<std::size_t>(json.size()), rapidjson::kObjectType); }
    void reset()
    {
        buffer.Clear();
        writer.Reset(buffer);
        stack.clear();
    }

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer{buffer};
    std::vector<Container> stack;
};

namespace {

bool isJson(const QByteArray &json)
{
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(json.constData(), static_cast<std::size_t>(json.size()));
    return !json.isEmpty() && !doc.HasParseError();
}

} // namespace

JsonWriter::JsonWriter() : d(std::make_unique<JsonWriterPrivate>()) {}
JsonWriter::~JsonWriter() = default;

void JsonWriter::startObject()
{
    if (!d->writer.IsComplete() && (d->stack.empty() || d->stack.back() == JsonWriterPrivate::Array))
        d->open(JsonWriterPrivate::Object);
}

void JsonWriter::startArray()
{
    if (!d->writer.IsComplete() && (d->stack.empty() || d->stack.back() == JsonWriterPrivate::Array))
        d->open(JsonWriterPrivate::Array);
}

void JsonWriter::endObject() { d->close(JsonWriterPrivate::Object); }
void JsonWriter::endArray() { d->close(JsonWriterPrivate::Array); }
bool JsonWriter::isObjectOpen() const { return !d->stack.empty() && d->stack.back() == JsonWriterPrivate::Object; }
bool JsonWriter::isArrayOpen() const { return !d->stack.empty() && d->stack.back() == JsonWriterPrivate::Array; }

void JsonWriter::setString(const QString &key, const QString &value)
{
    if (d->keyReady()) {
        d->key(key);
        d->string(value);
    }
}

void JsonWriter::setInt(const QString &key, int value) { setInt64(key, value); }

void JsonWriter::setInt64(const QString &key, qint64 value)
{
    if (d->keyReady()) {
        d->key(key);
        d->writer.Int64(value);
    }
}

void JsonWriter::setDouble(const QString &key, double value)
{
    if (d->keyReady()) {
        d->key(key);
        d->number(value);
    }
}

void JsonWriter::setFloat(const QString &key, float value) { setDouble(key, static_cast<double>(value)); }

void JsonWriter::setBool(const QString &key, bool value)
{
    if (d->keyReady()) {
        d->key(key);
        d->writer.Bool(value);
    }
}

void JsonWriter::setNull(const QString &key)
{
    if (d->keyReady()) {
        d->key(key);
        d->writer.Null();
    }
}

void JsonWriter::setRaw(const QString &key, const QByteArray &json)
{
    if (isJson(json) && d->keyReady()) {
        d->key(key);
        d->raw(json);
    }
}

void JsonWriter::setBytes(const QString &key, const QByteArray &bytes) { setString(key, bytesToText(bytes)); }
void JsonWriter::setWriter(const QString &key, JsonWriter &other) { setRaw(key, other.text()); }
void JsonWriter::setDocument(const QString &key, const JsonDocument &document) { setRaw(key, document.valueJson({}, true)); }

void JsonWriter::setIntArray(const QString &key, const QList<qint64> &values)
{
    if (!d->keyReady())
        return;
    d->key(key);
    d->writer.StartArray();
    for (qint64 v : values)
        d->writer.Int64(v);
    d->writer.EndArray();
}

void JsonWriter::setTextArray(const QString &key, const QStringList &values)
{
    if (!d->keyReady())
        return;
    d->key(key);
    d->writer.StartArray();
    for (const QString &v : values)
        d->string(v);
    d->writer.EndArray();
}

void JsonWriter::addString(const QString &value)
{
    if (d->valueReady())
        d->string(value);
}

void JsonWriter::addInt(int value) { addInt64(value); }

void JsonWriter::addInt64(qint64 value)
{
    if (d->valueReady())
        d->writer.Int64(value);
}

void JsonWriter::addDouble(double value)
{
    if (d->valueReady())
        d->number(value);
}

void JsonWriter::addFloat(float value) { addDouble(static_cast<double>(value)); }

void JsonWriter::addBool(bool value)
{
    if (d->valueReady())
        d->writer.Bool(value);
}

void JsonWriter::addNull()
{
    if (d->valueReady())
        d->writer.Null();
}

void JsonWriter::addRaw(const QByteArray &json)
{
    if (isJson(json) && d->valueReady())
        d->raw(json);
}

void JsonWriter::addBytes(const QByteArray &bytes) { addString(bytesToText(bytes)); }
void JsonWriter::addWriter(JsonWriter &other) { addRaw(other.text()); }
void JsonWriter::addDocument(const JsonDocument &document) { addRaw(document.valueJson({}, true)); }

QByteArray JsonWriter::text()
{
    while (!d->stack.empty())
        d->close(d->stack.back());
    const QByteArray out(d->buffer.GetString(), static_cast<qsizetype>(d->buffer.GetSize()));
    d->reset();
    return out;
}

QString JsonWriter::bytesToText(const QByteArray &bytes)
{
    return QStringLiteral("0xByte") + QString::fromLatin1(bytes.toHex().toUpper());
}
