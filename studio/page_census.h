#pragma once

#include "studio/studio_description.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class BrowserLibrary;

namespace studio {

// What a page shows of a description's element roles at one moment.
struct SelectorCount {
    Role role;
    QString css;
    int index = 0;
    int matches = 0;      // elements the selector matches
    bool refused = false; // the browser does not take the selector
    bool found() const { return !refused && matches >= std::max(index, 1); }
};

struct Census {
    QList<SelectorCount> selectors; // in the description's order
    QString address;
    // The role matched: one of its selectors finds its element.
    bool matched(Role role) const;
    // The first role of a fresh upload page that nothing matches.
    std::optional<Role> firstMissingOnFreshPage() const;
    // The role of the first selector the browser refuses ("" when none).
    QString refusedRole() const;
    // One line per role: "cover_box 封面框: found (.m-quorl-upload 1)" ...
    QString text() const;
};

// One script on the page counts every selector's matches; nullopt when the
// page gives no answer (closed, busy beyond the call's time-out).
std::optional<Census> takeCensus(BrowserLibrary &library, int pageId, const StudioDescription &description);

// The browser of the page judges a description's selectors (see
// StudioDescriptions::verified).
std::function<std::optional<QString>(const StudioDescription &)> selectorCheckOn(BrowserLibrary &library, int pageId);

// "视频上传框（input[type=file]）"
QString roleWithSelector(const StudioDescription &description, Role role);

} // namespace studio
