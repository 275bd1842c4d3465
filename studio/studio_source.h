#pragma once

#include "studio/studio_description.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace studio {

// Tells whether a page's browser takes every selector of a description:
// the role of the first it refuses, "" when it takes them all, nullopt when
// no page could tell.
using SelectorCheck = std::function<std::optional<QString>(const StudioDescription &)>;

// Which studio description is in use. In this order: data/studio.json (the
// user's own; it always wins), then the newest one the update service
// delivered into data/, then the one built in. A description that is wrong
// is refused as a whole and the one in use stays. Thread-safe; the lanes
// each take the one in use at the start of a video and keep it for that
// video.
class StudioDescriptions final {
public:
    static StudioDescriptions &instance();

    std::shared_ptr<const StudioDescription> current() const;

    // Reads data/studio.json and the delivered descriptions under data/
    // again; at start-up and at the start of every run.
    void reload();
    // A description the update service fetched (its hash checked): written
    // to data/<fileName> and taken when it parses, is newer than the one
    // delivered before, and the name is a bare studio-*.json. True when
    // taken (it may still wait behind the user's own file); false, with
    // `why`, when refused (nothing is written then).
    bool offerDelivered(const QString &fileName, const QByteArray &bytes, QString *why);
    // The version of the newest delivered description (0: none).
    int deliveredVersion() const;
    // Proves the description in use against a page's browser once; one it
    // refuses is dropped for the next in order. Returns the description in
    // use afterwards.
    std::shared_ptr<const StudioDescription> verified(const SelectorCheck &check);

    // For tests: forget every source but the built-in one.
    void resetForTests();

    static QString userFilePath();
    // Delivered descriptions are studio-*.json beside the user's file.
    static bool isDeliveredFileName(const QString &fileName);

private:
    struct Source {
        std::shared_ptr<StudioDescription> description;
        bool checked = false; // its selectors were proved on a page
    };
    void choose(const std::unique_lock<std::mutex> &);
    std::shared_ptr<const StudioDescription> currentLocked() const;
    static std::optional<Source> readFile(const QString &path, QString *why);

    mutable std::mutex m_mutex;
    std::optional<Source> m_user;
    std::optional<Source> m_delivered;
    std::shared_ptr<const StudioDescription> m_current;
    bool m_currentChecked = true;
};

} // namespace studio
