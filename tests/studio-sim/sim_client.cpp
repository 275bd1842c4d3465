#include "sim_client.h"

#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testsupport::SimResponse;

QString studioSimBinary()
{
    return QStringLiteral(TOLVAR_STUDIO_SIM_BIN);
}

QJsonObject jsonOf(const SimResponse &r)
{
    return QJsonDocument::fromJson(r.body).object();
}

QByteArray sampleMp4()
{
    static QByteArray bytes;
    if (!bytes.isEmpty())
        return bytes;
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("clip.mp4"));
    QString error;
    // Long enough to span several upload chunks.
    EXPECT_TRUE(testsupport::makeClip(out, {}, &error, 6)) << error.toStdString();
    QFile f(out);
    if (f.open(QIODevice::ReadOnly))
        bytes = f.readAll();
    return bytes;
}

bool SimClient::login(const QByteArray &name)
{
    const SimResponse r = m_sim.request("GET", "/login?name=" + name.toPercentEncoding());
    const QByteArray setCookie = r.header("Set-Cookie");
    m_cookie = setCookie.left(setCookie.indexOf(';'));
    return r.status == 302 && !m_cookie.isEmpty();
}

SimResponse SimClient::get(const QByteArray &target) const
{
    return m_sim.request("GET", target, {}, {{"Cookie", m_cookie}});
}

SimResponse SimClient::post(const QByteArray &target, const QByteArray &body) const
{
    return m_sim.request("POST", target, body, {{"Cookie", m_cookie}, {"Content-Type", "application/json"}});
}

SimResponse SimClient::put(const QByteArray &target, const QByteArray &body) const
{
    return m_sim.request("PUT", target, body, {{"Cookie", m_cookie}});
}

QString SimClient::beginUpload(const QString &name, qint64 size, qint64 *chunk) const
{
    const QJsonObject init = jsonOf(
        post("/api/upload/init", QJsonDocument(QJsonObject {{"name", name}, {"size", size}}).toJson()));
    if (chunk)
        *chunk = init.value("chunk").toInteger();
    return init.value("id").toString();
}

QJsonObject SimClient::sendFrom(const QString &id, const QByteArray &bytes, qint64 offset, qint64 chunk) const
{
    QJsonObject last;
    do {
        const QByteArray target = "/api/upload/chunk?id=" + id.toUtf8() + "&offset=" + QByteArray::number(offset);
        last = jsonOf(put(target, bytes.mid(offset, chunk)));
        const qint64 received = last.value("received").toInteger(-1);
        if (received <= offset || last.value("state").toString() != "uploading")
            break;
        offset = received;
    } while (offset < bytes.size());
    return last;
}

QString SimClient::uploadAll(const QString &name, const QByteArray &bytes, QJsonObject *last) const
{
    qint64 chunk = 0;
    const QString id = beginUpload(name, bytes.size(), &chunk);
    const QJsonObject answer = sendFrom(id, bytes, 0, chunk > 0 ? chunk : 65536);
    if (last)
        *last = answer;
    return id;
}

SimResponse SimClient::publish(const QJsonObject &fields) const
{
    return post("/api/publish", QJsonDocument(fields).toJson(QJsonDocument::Compact));
}
