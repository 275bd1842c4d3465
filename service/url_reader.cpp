#include "service/url_reader.h"

#include "base/gbk.h"
#include "net/http_request.h"
#include "service/log.h"

#include <QUrl>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace service {

QByteArray readUrlBytes(const QString &url)
{
    net::HttpRequestOptions options;
    QByteArray body = net::httpRequest(url, options);
    if (options.status < 200 || options.status > 299) {
        if (options.status != 0) // no answer at all is logged by the request itself
            qCWarning(lcService) << "the service at" << QUrl(url).toString(QUrl::RemoveQuery) << "answered HTTP" << options.status;
        return {};
    }
    return body;
}

JsonFields parseFlatJson(QByteArrayView text)
{
    // The servers serve their documents in UTF-8 or in GBK.
    const QByteArray utf8 = gbk::decodeUtf8OrGbk(text).toUtf8();
    rapidjson::Document doc;
    doc.Parse(utf8.constData(), static_cast<size_t>(utf8.size()));
    JsonFields fields;
    if (doc.HasParseError() || !doc.IsObject()) {
        if (!text.isEmpty())
            qCWarning(lcService) << "a service answer of" << text.size() << "bytes is no JSON object" << (doc.HasParseError() ? "(does not parse)" : "");
        return fields;
    }
    for (const auto &member : doc.GetObject()) {
        const QString name = QString::fromUtf8(member.name.GetString(), member.name.GetStringLength());
        const rapidjson::Value &v = member.value;
        if (v.IsString()) {
            fields.insert(name, QString::fromUtf8(v.GetString(), v.GetStringLength()));
        } else if (!v.IsNull()) {
            rapidjson::StringBuffer buffer;
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            v.Accept(writer);
            fields.insert(name, QString::fromUtf8(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize())));
        }
    }
    return fields;
}

JsonFields readJsonFromUrl(const QString &url)
{
    return parseFlatJson(readUrlBytes(url));
}

} // namespace service
