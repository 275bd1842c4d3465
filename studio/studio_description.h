#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <memory>
#include <optional>

// The creator studio's pages as data: every selector, element index, page
// text, address path and page wait the upload code uses, each under a role
// name. One JSON document holds them all, with a schema and a version of its
// own, so that a redesign of the studio is mended by a new document rather
// than a new build.
namespace studio {

enum class RoleKind { Element, Text, Path, Wait, Number };

enum class Role {
    // Elements: a list of selectors tried in order, each with its match index.
    UserName,
    VideoInput,
    CoverInput,
    UploadPercent,
    UploadStatus,
    CoverBox,
    CoverLocalTab,
    CoverConfirmDisabled,
    CoverConfirm,
    CropOkDisabled,
    CropOk,
    CoverFinalConfirm,
    CoverDialogButton,
    TitleInput,
    OriginalRadio,
    RepostRadio,
    OptionCheckbox,
    CheckedCheckbox,
    UntickCheckbox,
    PublishButton,
    DraftButton,
    SubmitConfirm,
    ContentItem,
    ContentItemTitle,
    ContentEmpty,
    // Elements of the later page parts: a description without them has the
    // steps that use them skipped.
    TagField,
    TagChip,
    RecommendedTag,
    CategoryPicker,
    CategoryFirst,
    CategorySecond,
    CategoryTreeFirst,
    CategoryTreeSecond,
    ScheduleTimed,
    ScheduleTime,
    // Texts the page shows.
    UploadBoxText,
    UploadDoneText,
    UploadFailedText,
    CoverEmptyText,
    CoverUploadingText,
    LoginPathText,
    CategoryIdAttribute,
    CategoryNameAttribute,
    // Address paths, joined to the studio's origin.
    UploadPath,
    PublishLanding,
    DraftLanding,
    ContentVideos,
    ContentDrafts,
    // Waits, in milliseconds, that give the page time to react.
    WaitAfterAttach,
    WaitAfterFile,
    WaitBeforeProgress,
    WaitProgressPoll,
    WaitUploadBoxPoll,
    WaitCoverStep,
    WaitAfterCoverConfirm,
    WaitAfterTitleClear,
    WaitAfterTitle,
    WaitAfterOptions,
    WaitBeforeSubmit,
    WaitAfterSubmitPress,
    WaitAfterLanding,
    WaitAfterTags,
    WaitCategoryStep,
    WaitAfterSchedule,
    // The studio's limits.
    TagLimit,
    ScheduleMinLeadMinutes,
    ScheduleMaxDays,
};
constexpr int kRoleCount = static_cast<int>(Role::ScheduleMaxDays) + 1;

struct RoleInfo {
    Role role;
    const char *name;  // as in the document: "cover_box"
    RoleKind kind;
    const char *label; // as users read it: "封面框"
    bool freshPage;    // a fresh upload page shows it (the check before a run looks for it)
    bool optional = false; // a description may leave it out: its step is then skipped
};
const RoleInfo &infoOf(Role role);
const std::array<RoleInfo, kRoleCount> &allRoles();
std::optional<Role> roleNamed(const QString &name);

struct Selector {
    QString css;
    int index = 0; // the element index of the operations: 0 and 1 the first match
};

class StudioDescription final {
public:
    // Parses and checks a whole document; nullopt with `why` naming the
    // role (or the member) that is wrong.
    static std::optional<StudioDescription> parse(const QByteArray &json, QString *why);
    // The values the program was built with.
    static const StudioDescription &builtIn();
    static QByteArray builtInJson();

    int version() const { return m_version; }
    // Where it came from: "built-in", or the file it was read from.
    QString origin() const { return m_origin; }
    void setOrigin(const QString &origin) { m_origin = origin; }

    const QList<Selector> &selectors(Role role) const { return m_selectors[index(role)]; }
    // The first selector's text, as messages show it.
    QString firstSelector(Role role) const;
    QString text(Role role) const { return m_texts[index(role)]; }
    QString path(Role role) const { return m_texts[index(role)]; }
    int waitMs(Role role) const { return m_waits[index(role)]; }
    int number(Role role) const { return m_waits[index(role)]; }
    // False for an optional role the description leaves out.
    bool has(Role role) const { return m_present[index(role)]; }

private:
    static int index(Role role) { return static_cast<int>(role); }
    int m_version = 0;
    QString m_origin;
    std::array<QList<Selector>, kRoleCount> m_selectors;
    std::array<QString, kRoleCount> m_texts; // texts and paths
    std::array<int, kRoleCount> m_waits{}; // waits and numbers
    std::array<bool, kRoleCount> m_present{};
};

// The schema this program reads.
inline constexpr const char *kSchema = "tolvar-studio/1";

} // namespace studio
