#pragma once

#include <QString>

// An account id names a file (data/list/<id>.json) and a browser profile
// folder (huancun/tolvar<id>), so it must be one plain file-name component
// on Windows and on Linux: nothing that climbs out of the run directory,
// names a device, or that Windows would silently rewrite.
namespace accountid {

// Empty when the id is safe; otherwise why not, as a message for the user
// ("账号标识 …"), e.g. for an empty id "账号标识 不能为空".
QString whyUnsafe(const QString &id);

inline bool isSafe(const QString &id) { return whyUnsafe(id).isEmpty(); }

} // namespace accountid
