#include "studio/studio_description.h"

#include <QUrl>

#include <rapidjson/document.h>

namespace studio {

namespace {

using K = RoleKind;

// In the order the document lists them and the check reports them.
const std::array<RoleInfo, kRoleCount> kRoles = {{
    {Role::UserName, "user_name", K::Element, "用户名", true},
    {Role::VideoInput, "video_input", K::Element, "视频上传框", true},
    {Role::CoverInput, "cover_input", K::Element, "封面上传框", true},
    {Role::UploadPercent, "upload_percent", K::Element, "上传进度", true},
    {Role::UploadStatus, "upload_status", K::Element, "上传状态", true},
    {Role::CoverBox, "cover_box", K::Element, "封面框", true},
    {Role::CoverLocalTab, "cover_local_tab", K::Element, "本地封面标签", false},
    {Role::CoverConfirmDisabled, "cover_confirm_disabled", K::Element, "封面完成按钮（不可用时）", false},
    {Role::CoverConfirm, "cover_confirm", K::Element, "封面完成按钮", false},
    {Role::CropOkDisabled, "crop_ok_disabled", K::Element, "裁剪确定按钮（不可用时）", false},
    {Role::CropOk, "crop_ok", K::Element, "裁剪确定按钮", false},
    {Role::CoverFinalConfirm, "cover_final_confirm", K::Element, "封面确认按钮", false},
    {Role::CoverDialogButton, "cover_dialog_button", K::Element, "封面上传中按钮", false},
    {Role::TitleInput, "title_input", K::Element, "标题输入框", true},
    {Role::OriginalRadio, "original_radio", K::Element, "原创选项", true},
    {Role::RepostRadio, "repost_radio", K::Element, "转载选项", true},
    {Role::OptionCheckbox, "option_checkbox", K::Element, "选项勾选框", true},
    {Role::CheckedCheckbox, "checked_checkbox", K::Element, "已勾选的选项", false},
    {Role::UntickCheckbox, "untick_checkbox", K::Element, "取消勾选的选项", false},
    {Role::PublishButton, "publish_button", K::Element, "发布按钮", true},
    {Role::DraftButton, "draft_button", K::Element, "存草稿按钮", true},
    {Role::SubmitConfirm, "submit_confirm", K::Element, "发布确认按钮", false},
    {Role::ContentItem, "content_item", K::Element, "作品列表项", false},
    {Role::ContentItemTitle, "content_item_title", K::Element, "作品标题", false},
    {Role::ContentEmpty, "content_empty", K::Element, "空作品列表", false},
    {Role::TagField, "tag_field", K::Element, "标签输入框", false, true},
    {Role::TagChip, "tag_chip", K::Element, "已添加的标签", false, true},
    {Role::RecommendedTag, "recommended_tag", K::Element, "推荐标签", false, true},
    {Role::CategoryPicker, "category_picker", K::Element, "分类选择框", false, true},
    {Role::CategoryFirst, "category_first", K::Element, "一级分类选项", false, true},
    {Role::CategorySecond, "category_second", K::Element, "二级分类选项", false, true},
    {Role::CategoryTreeFirst, "category_tree_first", K::Element, "分类树一级", false, true},
    {Role::CategoryTreeSecond, "category_tree_second", K::Element, "分类树二级", false, true},
    {Role::ScheduleTimed, "schedule_timed", K::Element, "定时发布选项", false, true},
    {Role::ScheduleTime, "schedule_time", K::Element, "定时发布时间框", false, true},
    {Role::UploadBoxText, "upload_box_text", K::Text, "上传区域文字", false},
    {Role::UploadDoneText, "upload_done_text", K::Text, "上传成功文字", false},
    {Role::UploadFailedText, "upload_failed_text", K::Text, "上传失败文字", false},
    {Role::CoverEmptyText, "cover_empty_text", K::Text, "未设封面文字", false},
    {Role::CoverUploadingText, "cover_uploading_text", K::Text, "封面上传中文字", false},
    {Role::LoginPathText, "login_path_text", K::Text, "登录页地址特征", false},
    {Role::CategoryIdAttribute, "category_id_attribute", K::Text, "分类编号属性", false, true},
    {Role::CategoryNameAttribute, "category_name_attribute", K::Text, "分类名称属性", false, true},
    {Role::UploadPath, "upload_path", K::Path, "上传页面地址", false},
    {Role::PublishLanding, "publish_landing", K::Path, "发布后地址", false},
    {Role::DraftLanding, "draft_landing", K::Path, "存草稿后地址", false},
    {Role::ContentVideos, "content_videos", K::Path, "作品管理地址", false},
    {Role::ContentDrafts, "content_drafts", K::Path, "草稿箱地址", false},
    {Role::WaitAfterAttach, "wait_after_attach", K::Wait, "", false},
    {Role::WaitAfterFile, "wait_after_file", K::Wait, "", false},
    {Role::WaitBeforeProgress, "wait_before_progress", K::Wait, "", false},
    {Role::WaitProgressPoll, "wait_progress_poll", K::Wait, "", false},
    {Role::WaitUploadBoxPoll, "wait_upload_box_poll", K::Wait, "", false},
    {Role::WaitCoverStep, "wait_cover_step", K::Wait, "", false},
    {Role::WaitAfterCoverConfirm, "wait_after_cover_confirm", K::Wait, "", false},
    {Role::WaitAfterTitleClear, "wait_after_title_clear", K::Wait, "", false},
    {Role::WaitAfterTitle, "wait_after_title", K::Wait, "", false},
    {Role::WaitAfterOptions, "wait_after_options", K::Wait, "", false},
    {Role::WaitBeforeSubmit, "wait_before_submit", K::Wait, "", false},
    {Role::WaitAfterSubmitPress, "wait_after_submit_press", K::Wait, "", false},
    {Role::WaitAfterLanding, "wait_after_landing", K::Wait, "", false},
    {Role::WaitAfterTags, "wait_after_tags", K::Wait, "", false, true},
    {Role::WaitCategoryStep, "wait_category_step", K::Wait, "", false, true},
    {Role::WaitAfterSchedule, "wait_after_schedule", K::Wait, "", false, true},
    {Role::TagLimit, "tag_limit", K::Number, "标签数上限", false, true},
    {Role::ScheduleMinLeadMinutes, "schedule_min_lead_minutes", K::Number, "定时发布最短提前分钟", false, true},
    {Role::ScheduleMaxDays, "schedule_max_days", K::Number, "定时发布最远天数", false, true},
}};

constexpr int kMaxWaitMs = 120000;
constexpr int kMaxIndex = 1000;
constexpr int kMaxTextLength = 500;

QString fromJson(const rapidjson::Value &v)
{
    return QString::fromUtf8(v.GetString(), static_cast<qsizetype>(v.GetStringLength()));
}

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text) {
        if (c < u' ' || c == QChar(0x7f))
            return true;
    }
    return false;
}

QString roleError(const char *role, const QString &what)
{
    return QStringLiteral("role \"%1\": %2").arg(QString::fromLatin1(role), what);
}

bool readIndex(const rapidjson::Value &v, int *index)
{
    if (!v.IsInt() || v.GetInt() < 0 || v.GetInt() > kMaxIndex)
        return false;
    *index = v.GetInt();
    return true;
}

// A selector is handed to the page's querySelectorAll as a string literal;
// whether the browser takes it is checked on a page before use.
std::optional<QList<Selector>> readSelectors(const RoleInfo &info, const rapidjson::Value &role, QString *why)
{
    int roleIndex = 0;
    const auto index = role.FindMember("index");
    if (index != role.MemberEnd() && !readIndex(index->value, &roleIndex)) {
        *why = roleError(info.name, QStringLiteral("\"index\" must be a whole number from 0 to %1").arg(kMaxIndex));
        return std::nullopt;
    }
    const auto list = role.FindMember("selectors");
    if (list == role.MemberEnd() || !list->value.IsArray() || list->value.Empty()) {
        *why = roleError(info.name, QStringLiteral("needs \"selectors\", a list of at least one selector"));
        return std::nullopt;
    }
    QList<Selector> out;
    for (const rapidjson::Value &item : list->value.GetArray()) {
        Selector s{QString(), roleIndex};
        if (item.IsString()) {
            s.css = fromJson(item);
        } else if (item.IsObject() && item.HasMember("css") && item["css"].IsString()) {
            s.css = fromJson(item["css"]);
            for (const auto &m : item.GetObject()) {
                const std::string name(m.name.GetString(), m.name.GetStringLength());
                if (name == "index" ? !readIndex(m.value, &s.index) : name != "css") {
                    *why = roleError(info.name, QStringLiteral("a selector may hold only \"css\" and a whole \"index\""));
                    return std::nullopt;
                }
            }
        } else {
            *why = roleError(info.name, QStringLiteral("a selector is a text or {\"css\": text, \"index\": number}"));
            return std::nullopt;
        }
        if (s.css.trimmed().isEmpty() || s.css.size() > kMaxTextLength || hasControlCharacters(s.css)) {
            *why = roleError(info.name, QStringLiteral("a selector is empty, too long or holds control characters"));
            return std::nullopt;
        }
        out.append(s);
    }
    return out;
}

// Only a path of the studio's own origin: never a scheme, a host or a
// script of any kind.
bool isPlainPath(const QString &path)
{
    if (!path.startsWith(u'/') || path.startsWith(QStringLiteral("//")) || path.contains(u'\\') || hasControlCharacters(path)
        || path.contains(u' ') || path.size() > kMaxTextLength)
        return false;
    const QUrl url(path, QUrl::StrictMode);
    return url.isValid() && url.scheme().isEmpty() && url.host().isEmpty();
}

} // namespace

const std::array<RoleInfo, kRoleCount> &allRoles()
{
    return kRoles;
}

const RoleInfo &infoOf(Role role)
{
    return kRoles[static_cast<std::size_t>(role)];
}

std::optional<Role> roleNamed(const QString &name)
{
    for (const RoleInfo &info : kRoles) {
        if (name == QLatin1StringView(info.name))
            return info.role;
    }
    return std::nullopt;
}

QString StudioDescription::firstSelector(Role role) const
{
    const QList<Selector> &list = selectors(role);
    return list.isEmpty() ? QString() : list.first().css;
}

std::optional<StudioDescription> StudioDescription::parse(const QByteArray &json, QString *why)
{
    QString unused;
    QString &error = why ? *why : unused;
    rapidjson::Document doc;
    doc.Parse(json.constData(), static_cast<size_t>(json.size()));
    if (doc.HasParseError() || !doc.IsObject()) {
        error = doc.HasParseError() ? QStringLiteral("it does not parse as JSON (at byte %1)").arg(doc.GetErrorOffset())
                                    : QStringLiteral("it is no JSON object");
        return std::nullopt;
    }
    const auto schema = doc.FindMember("schema");
    if (schema == doc.MemberEnd() || !schema->value.IsString() || fromJson(schema->value) != QLatin1StringView(kSchema)) {
        error = QStringLiteral("its schema is not \"%1\"").arg(QString::fromLatin1(kSchema));
        return std::nullopt;
    }
    const auto version = doc.FindMember("version");
    if (version == doc.MemberEnd() || !version->value.IsInt() || version->value.GetInt() < 1) {
        error = QStringLiteral("its \"version\" is no whole number of at least 1");
        return std::nullopt;
    }
    const auto roles = doc.FindMember("roles");
    if (roles == doc.MemberEnd() || !roles->value.IsObject()) {
        error = QStringLiteral("it has no \"roles\" object");
        return std::nullopt;
    }
    for (const auto &m : roles->value.GetObject()) {
        if (!roleNamed(fromJson(m.name))) {
            error = QStringLiteral("role \"%1\" is unknown to this program").arg(fromJson(m.name));
            return std::nullopt;
        }
    }
    StudioDescription d;
    d.m_version = version->value.GetInt();
    for (const RoleInfo &info : kRoles) {
        const auto found = roles->value.FindMember(info.name);
        if (found == roles->value.MemberEnd() && info.optional)
            continue;
        if (found == roles->value.MemberEnd() || !found->value.IsObject()) {
            error = roleError(info.name, QStringLiteral("is missing"));
            return std::nullopt;
        }
        const rapidjson::Value &role = found->value;
        const char *allowed[] = {"selectors", "index", "text", "path", "ms", "value"};
        const int first = info.kind == K::Element ? 0 : info.kind == K::Text ? 2 : info.kind == K::Path ? 3 : info.kind == K::Wait ? 4 : 5;
        const int last = info.kind == K::Element ? 1 : first;
        for (const auto &m : role.GetObject()) {
            bool known = false;
            for (int k = first; k <= last; ++k)
                known = known || std::string(m.name.GetString(), m.name.GetStringLength()) == allowed[k];
            if (!known) {
                error = roleError(info.name, QStringLiteral("may not hold \"%1\"").arg(fromJson(m.name)));
                return std::nullopt;
            }
        }
        const int at = index(info.role);
        d.m_present[at] = true;
        switch (info.kind) {
        case K::Element: {
            auto list = readSelectors(info, role, &error);
            if (!list)
                return std::nullopt;
            d.m_selectors[at] = *list;
            break;
        }
        case K::Text:
        case K::Path: {
            const char *member = info.kind == K::Text ? "text" : "path";
            const auto v = role.FindMember(member);
            const QString text = v != role.MemberEnd() && v->value.IsString() ? fromJson(v->value) : QString();
            if (text.isEmpty() || text.size() > kMaxTextLength || hasControlCharacters(text)) {
                error = roleError(info.name, QStringLiteral("needs a \"%1\" text of one line").arg(QString::fromLatin1(member)));
                return std::nullopt;
            }
            if (info.kind == K::Path && !isPlainPath(text)) {
                error = roleError(info.name, QStringLiteral("\"%1\" is no path of the studio (it must start with one \"/\" and name no scheme or host)").arg(text));
                return std::nullopt;
            }
            d.m_texts[at] = text;
            break;
        }
        case K::Wait: {
            const auto v = role.FindMember("ms");
            if (v == role.MemberEnd() || !v->value.IsInt() || v->value.GetInt() < 0 || v->value.GetInt() > kMaxWaitMs) {
                error = roleError(info.name, QStringLiteral("needs \"ms\", a whole number from 0 to %1").arg(kMaxWaitMs));
                return std::nullopt;
            }
            d.m_waits[at] = v->value.GetInt();
            break;
        }
        case K::Number: {
            const auto v = role.FindMember("value");
            if (v == role.MemberEnd() || !v->value.IsInt() || v->value.GetInt() < 0 || v->value.GetInt() > 100000) {
                error = roleError(info.name, QStringLiteral("needs \"value\", a whole number from 0 to 100000"));
                return std::nullopt;
            }
            d.m_waits[at] = v->value.GetInt();
            break;
        }
        }
    }
    return d;
}

const StudioDescription &StudioDescription::builtIn()
{
    static const StudioDescription description = [] {
        QString why;
        std::optional<StudioDescription> d = parse(builtInJson(), &why);
        Q_ASSERT_X(d, "StudioDescription::builtIn", qPrintable(why));
        d->setOrigin(QStringLiteral("built-in"));
        return *d;
    }();
    return description;
}

} // namespace studio
