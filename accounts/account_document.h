#pragma once

#include <QString>

#include <mutex>

#include <rapidjson/document.h>

// The one process-wide key-value document through which account files are
// read and written; the upload job keeps its run context in it too.
// Loading a file replaces the whole content; saving writes the whole content
// as one JSON object. Members that are not text are kept as they are.
class AccountDocument final {
public:
    AccountDocument();

    // Tolerant: UTF-8 or GBK text, a leading byte-order mark. A file that is
    // missing or not a JSON object leaves the document empty and gives false,
    // with the reason in `why` when asked for.
    bool loadFile(const QString &path, QString *why = nullptr);
    // Writes UTF-8 JSON atomically.
    bool saveFile(const QString &path) const;

    // Missing members and members that are not text read as empty.
    QString value(const QString &key) const;
    // The member is there and is not text (a number, null, an object …).
    bool holdsNonText(const QString &key) const;
    void setValue(const QString &key, const QString &text);
    void remove(const QString &key);
    void clear();
    bool contains(const QString &key) const;
    QString toJson() const;

private:
    mutable std::mutex m_mutex;
    rapidjson::Document m_doc;
};

// The process-wide instance.
AccountDocument &accountDocument();
