#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class JsonDocument;
class JsonWriterPrivate;

// Builds JSON text (UTF-8) value by value.
//
// Setting a key while no object is open opens one first; adding a value
// without a key while no array is open opens one first. text() closes whatever
// is still open and releases the writer; it starts afresh afterwards.
// Misuse (a keyless value inside an object, anything after the root closed)
// is ignored rather than producing broken JSON.
class JsonWriter final {
public:
    JsonWriter();
    ~JsonWriter();
    JsonWriter(const JsonWriter &) = delete;
    JsonWriter &operator=(const JsonWriter &) = delete;

    void startObject();
    void startArray();
    void endObject();
    void endArray();

    void setString(const QString &key, const QString &value);
    void setInt(const QString &key, int value);
    void setInt64(const QString &key, qint64 value);
    void setDouble(const QString &key, double value);
    void setFloat(const QString &key, float value);
    void setBool(const QString &key, bool value);
    void setNull(const QString &key);
    void setRaw(const QString &key, const QByteArray &json); // ignored unless valid JSON
    void setBytes(const QString &key, const QByteArray &bytes); // "0xByte" + hex
    void setWriter(const QString &key, JsonWriter &other);      // takes other's text
    void setDocument(const QString &key, const JsonDocument &document);
    void setIntArray(const QString &key, const QList<qint64> &values);
    void setTextArray(const QString &key, const QStringList &values);

    void addString(const QString &value);
    void addInt(int value);
    void addInt64(qint64 value);
    void addDouble(double value);
    void addFloat(float value);
    void addBool(bool value);
    void addNull();
    void addRaw(const QByteArray &json);
    void addBytes(const QByteArray &bytes);
    void addWriter(JsonWriter &other);
    void addDocument(const JsonDocument &document);

    bool isObjectOpen() const;
    bool isArrayOpen() const;

    QByteArray text();

    // "0xByte" followed by upper-case hex, two digits a byte.
    static QString bytesToText(const QByteArray &bytes);

private:
    std::unique_ptr<JsonWriterPrivate> d;
};
