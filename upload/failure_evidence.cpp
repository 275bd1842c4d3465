#include "upload/failure_evidence.h"

#include "base/atomic_file.h"
#include "base/run_directory.h"
#include "browser/browser_library.h"
#include "studio/page_census.h"
#include "upload/log.h"
#include "upload/video_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

namespace evidence {

namespace {

// A file name part made of the text: separators and the characters file
// systems refuse become '_'.
QString namePart(const QString &text)
{
    QString out = text.left(60);
    for (QChar &c : out) {
        if (c < u' ' || QStringLiteral("\\/:*?\"<>|").contains(c))
            c = u'_';
    }
    return out.isEmpty() ? QStringLiteral("_") : out;
}

} // namespace

QString failuresFolder()
{
    return rundir::join(u"logs/failures");
}

void capturePage(BrowserLibrary &library, int pageId, FailureFacts &facts, const studio::StudioDescription *description)
{
    if (pageId <= 0 || library.form_page_isactive(pageId) == 0)
        return;
    facts.address = library.form_get_page_url(pageId);
    facts.png = library.captureScreenshot(pageId);
    if (description) {
        const std::optional<studio::Census> census = studio::takeCensus(library, pageId, *description);
        facts.census = census ? census->text() : QString();
    }
}

QString save(const FailureFacts &facts)
{
    const QString folder = failuresFolder();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcUpload) << "cannot make the failures folder" << folder;
        return {};
    }
    const QString stem = folder + u'/' + facts.time.toString(QStringLiteral("yyyyMMdd-HHmmss")) + u'_' + namePart(facts.accountId) + u'_'
        + namePart(videofiles::fileNameOf(facts.video, false));
    const QString &address = facts.address;
    const QByteArray &png = facts.png;
    if (!png.isEmpty() && !writeFileAtomic(stem + QStringLiteral(".png"), png))
        qCWarning(lcUpload) << "the screenshot of the failure" << stem << "was not saved";
    QString text = QStringLiteral("time: %1\naccount: %2\nvideo: %3\nstep: %4\nreason: %5\npage: %6\nlast seen: %7\nscreenshot: %8\n")
                       .arg(facts.time.toString(Qt::ISODate), facts.accountId, facts.video, facts.step, facts.reason,
                            address.isEmpty() ? QStringLiteral("(none)") : address, facts.lastSeen,
                            png.isEmpty() ? QStringLiteral("(none: no page to show)") : QFileInfo(stem + QStringLiteral(".png")).fileName());
    text += QStringLiteral("roles of the studio description on the page then:\n")
        + (facts.census.isEmpty() ? QStringLiteral("  (none: the page gave no answer)\n") : facts.census);
    if (!writeFileAtomic(stem + QStringLiteral(".txt"), text.toUtf8()))
        return {};
    prune();
    return stem + QStringLiteral(".txt");
}

void prune(int maxPairs, qint64 maxBytes)
{
    QDir dir(failuresFolder());
    // Pairs by stem, oldest first (the names start with the time).
    QMap<QString, qint64> pairs;
    for (const QFileInfo &f : dir.entryInfoList({QStringLiteral("*.txt"), QStringLiteral("*.png")}, QDir::Files, QDir::Name))
        pairs[f.completeBaseName()] += f.size();
    qint64 total = 0;
    for (qint64 size : std::as_const(pairs))
        total += size;
    auto it = pairs.begin();
    while (it != pairs.end() && (pairs.size() > maxPairs || total > maxBytes)) {
        for (const char *ext : {".txt", ".png"})
            QFile::remove(dir.filePath(it.key() + QString::fromLatin1(ext)));
        total -= it.value();
        it = pairs.erase(it);
    }
}

} // namespace evidence
