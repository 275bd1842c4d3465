#pragma once

#include "service/url_reader.h"

#include <QString>

namespace service {

// The update server's index.json may offer a studio description in a
// member older copies ignore:
//   "页面配置": {"版本": 7, "文件名": "studio-7.json", "SHA256": "<hex>"}
// A version newer than the one delivered before is fetched from the folder
// of index.json (`folderUrl`, ending in '/'), its hash and schema checked,
// and handed to the descriptions in use. True when it was taken.
bool takeOfferedStudioDescription(const JsonFields &index, const QString &folderUrl);

} // namespace service
