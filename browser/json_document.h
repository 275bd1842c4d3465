#pragma once

#include "browser/json_writer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>

class JsonDocumentPrivate;

// A parsed JSON text from outside, answering typed questions by member name or
// by path.
//
// A key is a plain member name of the root, or a path when it holds ".", "/" or
// "[" (data.list[0].name, /data/list/0/name; "\." and "\/" escape). Text
// results are GBK unless raw is set (then UTF-8 as stored). Reads on a document
// that did not parse, or of a missing value, give the empty text, 0, false or
// the default; nothing throws.
class JsonDocument final {
public:
    // Type codes of type(); a plain member name reports booleans as
    // TypeBoolean and "0xByte..." strings as TypeBytes. A missing value reads
    // as 0 like every other read of one, the same code as null.
    enum Type : int {
        TypeNull = 0, TypeFalse = 1, TypeTrue = 2, TypeObject = 3,
        TypeArray = 4, TypeString = 5, TypeNumber = 6, TypeBoolean = 7, TypeBytes = 12
    };

    JsonDocument();
    ~JsonDocument();
    JsonDocument(const JsonDocument &other); // deep copy, nothing shared
    JsonDocument &operator=(const JsonDocument &other);

    // Tolerant parse: as is, then with stray backslashes repaired, then with the
    // encoding changed (UTF-8 to GBK or GBK to UTF-8). True when a document was made.
    bool parseText(QByteArrayView text);
    bool parseIntegers(const QList<qint64> &values);
    bool parseTexts(const QStringList &values);
    void clear();
    bool isParsed() const;

    QByteArray valueJson(const QString &path, bool raw = false, const QByteArray &defaultValue = {}) const;
    QByteArray memberJson(const QString &key, bool raw = false, const QByteArray &defaultValue = {}) const;
    QByteArray getText(const QString &key, bool raw = false, const QByteArray &defaultValue = {}) const;
    QByteArray getBytes(const QString &key) const;
    int getInt(const QString &key, int defaultValue = 0) const;        // default also for 0
    qint64 getInt64(const QString &key, qint64 defaultValue = 0) const;
    double getDouble(const QString &key, double defaultValue = 0) const;
    float getFloat(const QString &key, float defaultValue = 0) const;
    bool getBool(const QString &key) const;
    int type(const QString &key) const;

    // Names of the object's members at path (empty = root), appended to names.
    int memberNames(const QString &path, QList<QByteArray> &names) const;
    int memberCount(const QString &path) const;
    // Elements of an array, members of an object.
    int size(const QString &path) const;

    // The same reads on an array element: path + "/" + (index - 1) + "/" + key,
    // index counting from 1.
    static QString elementKey(const QString &path, int index, const QString &key);
    QByteArray elementJson(const QString &path, int index, const QString &key, bool raw = false, const QByteArray &defaultValue = {}) const;
    QByteArray elementText(const QString &path, int index, const QString &key, bool raw = false, const QByteArray &defaultValue = {}) const;
    QByteArray elementBytes(const QString &path, int index, const QString &key) const;
    int elementInt(const QString &path, int index, const QString &key, int defaultValue = 0) const;
    qint64 elementInt64(const QString &path, int index, const QString &key, qint64 defaultValue = 0) const;
    double elementDouble(const QString &path, int index, const QString &key, double defaultValue = 0) const;
    float elementFloat(const QString &path, int index, const QString &key, float defaultValue = 0) const;
    bool elementBool(const QString &path, int index, const QString &key) const;
    int elementType(const QString &path, int index, const QString &key) const;
    int elementMemberCount(const QString &path, int index, const QString &key) const;
    int elementSize(const QString &path, int index, const QString &key) const;

    QByteArray sourceText() const;
    bool exists(const QString &path) const;
    bool isEmptyObject() const;
    bool isEmptyArray() const;
    // Erases the value; on success the source text becomes the new document text.
    bool remove(const QString &path);

    static bool isPath(const QString &key);
    static QString toPointer(const QString &path);
    static QByteArray repairEscapes(QByteArrayView text);
    static bool isUtf8(QByteArrayView bytes);

private:
    std::unique_ptr<JsonDocumentPrivate> d;
};
