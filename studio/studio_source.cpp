#include "studio/studio_source.h"

#include "base/atomic_file.h"
#include "base/run_directory.h"
#include "runlog/run_log.h"
#include "studio/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace studio {

StudioDescriptions &StudioDescriptions::instance()
{
    static StudioDescriptions descriptions;
    return descriptions;
}

QString StudioDescriptions::userFilePath()
{
    return rundir::join(u"data/studio.json");
}

bool StudioDescriptions::isDeliveredFileName(const QString &fileName)
{
    static const QRegularExpression name(QStringLiteral("^studio-[A-Za-z0-9._-]{1,60}\\.json$"));
    return name.match(fileName).hasMatch() && !fileName.contains(QStringLiteral(".."));
}

std::shared_ptr<const StudioDescription> StudioDescriptions::current() const
{
    std::lock_guard lock(m_mutex);
    return currentLocked();
}

std::shared_ptr<const StudioDescription> StudioDescriptions::currentLocked() const
{
    // The built-in one lives as long as the program: shared without an owner.
    return m_current ? m_current : std::shared_ptr<const StudioDescription>(std::shared_ptr<const StudioDescription>{}, &StudioDescription::builtIn());
}

std::optional<StudioDescriptions::Source> StudioDescriptions::readFile(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("it cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    std::optional<StudioDescription> d = StudioDescription::parse(file.read(1024 * 1024), why);
    if (!d)
        return std::nullopt;
    d->setOrigin(QFileInfo(path).fileName());
    return Source{std::make_shared<StudioDescription>(*d), false};
}

void StudioDescriptions::reload()
{
    std::unique_lock lock(m_mutex);
    m_user.reset();
    const QString user = userFilePath();
    if (QFileInfo::exists(user)) {
        QString why;
        m_user = readFile(user, &why);
        if (!m_user) {
            qCWarning(lcStudio).noquote() << "the studio description" << user << "is refused:" << why;
            runlog::appendRunLog(QStringLiteral("页面配置未采用：studio.json：") + why);
        }
    }
    // The newest delivered one that still reads well.
    m_delivered.reset();
    const QDir data(rundir::join(u"data"));
    for (const QString &name : data.entryList({QStringLiteral("studio-*.json")}, QDir::Files)) {
        if (!isDeliveredFileName(name))
            continue;
        QString why;
        std::optional<Source> s = readFile(data.filePath(name), &why);
        if (!s)
            qCWarning(lcStudio).noquote() << "the delivered studio description" << name << "is passed over:" << why;
        else if (!m_delivered || s->description->version() > m_delivered->description->version())
            m_delivered = s;
    }
    choose(lock);
}

void StudioDescriptions::choose(const std::unique_lock<std::mutex> &)
{
    const std::shared_ptr<const StudioDescription> before = m_current;
    const Source *source = m_user ? &*m_user : m_delivered ? &*m_delivered : nullptr;
    if (source) {
        m_current = source->description;
        m_currentChecked = source->checked;
    } else {
        m_current.reset();
        m_currentChecked = true; // the built-in one is known good
    }
    const StudioDescription &now = m_current ? *m_current : StudioDescription::builtIn();
    if (before != m_current)
        qCInfo(lcStudio).noquote() << "studio description in use:" << now.origin() << "version" << now.version();
}

bool StudioDescriptions::offerDelivered(const QString &fileName, const QByteArray &bytes, QString *why)
{
    if (!isDeliveredFileName(fileName)) {
        *why = QStringLiteral("the file name \"%1\" is no bare studio-*.json name").arg(fileName);
        return false;
    }
    std::optional<StudioDescription> d = StudioDescription::parse(bytes, why);
    if (!d)
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_delivered && d->version() <= m_delivered->description->version()) {
            *why = QStringLiteral("version %1 is not newer than the delivered version %2").arg(d->version()).arg(m_delivered->description->version());
            return false;
        }
    }
    const QString path = rundir::join(QStringLiteral("data/") + fileName);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !writeFileAtomic(path, bytes)) {
        *why = QStringLiteral("it could not be saved as %1").arg(path);
        return false;
    }
    d->setOrigin(fileName);
    std::unique_lock lock(m_mutex);
    m_delivered = Source{std::make_shared<StudioDescription>(*d), false};
    choose(lock);
    return true;
}

int StudioDescriptions::deliveredVersion() const
{
    std::lock_guard lock(m_mutex);
    return m_delivered ? m_delivered->description->version() : 0;
}

std::shared_ptr<const StudioDescription> StudioDescriptions::verified(const SelectorCheck &check)
{
    for (;;) {
        std::shared_ptr<const StudioDescription> candidate;
        {
            std::lock_guard lock(m_mutex);
            if (m_currentChecked || !m_current)
                return currentLocked();
            candidate = m_current;
        }
        // Outside the lock: the page answers in its own time.
        const std::optional<QString> refused = check(*candidate);
        if (!refused)
            return candidate; // no page could tell: used as it is, proved next time
        std::unique_lock lock(m_mutex);
        Source *source = m_user && m_user->description == candidate           ? &*m_user
                         : m_delivered && m_delivered->description == candidate ? &*m_delivered
                                                                                 : nullptr;
        if (!source)
            continue; // replaced meanwhile
        if (refused->isEmpty()) {
            source->checked = true;
            choose(lock);
            continue;
        }
        qCWarning(lcStudio).noquote() << "the studio description" << candidate->origin() << "is refused: the browser does not take the selector of role"
                                      << *refused;
        runlog::appendRunLog(QStringLiteral("页面配置未采用：%1：浏览器不接受角色 %2 的选择器").arg(candidate->origin(), *refused));
        if (source == &*m_user)
            m_user.reset();
        else
            m_delivered.reset();
        choose(lock);
    }
}

void StudioDescriptions::resetForTests()
{
    std::unique_lock lock(m_mutex);
    m_user.reset();
    m_delivered.reset();
    choose(lock);
}

} // namespace studio
