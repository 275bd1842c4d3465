#include "upload/upload_pipeline.h"

#include "accounts/account_document.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "studio/page_census.h"
#include "studio/studio_source.h"
#include "upload/browser_session.h"
#include "upload/delay_wait.h"
#include "upload/elapsed_ticker.h"
#include "upload/job_state.h"
#include "upload/log.h"
#include "upload/page_parts.h"
#include "upload/publish_schedule.h"
#include "upload/video_files.h"

using studio::Role;

UploadPipeline::UploadPipeline(Form &form, BrowserLibrary &library, BrowserSession &session, const QString &studioOrigin)
    : m_form(form)
    , m_library(library)
    , m_session(session)
    , m_origin(studioOrigin)
    , m_studio(studio::StudioDescriptions::instance().current())
{
}

template <typename Op>
auto UploadPipeline::bySelectors(Role role, int index, bool noteMissing, Op op) -> decltype(op(QString(), 0, nullptr))
{
    const QList<studio::Selector> &selectors = studio().selectors(role);
    decltype(op(QString(), 0, nullptr)) result{};
    ElementStatus status = ElementStatus::NoMatch;
    for (const studio::Selector &s : selectors) {
        result = op(s.css, index < 0 ? s.index : index, &status);
        if (status != ElementStatus::NoMatch)
            return result;
    }
    if (noteMissing) {
        const QString named = studio::roleWithSelector(studio(), role);
        if (!m_missing.contains(named))
            m_missing.append(named);
        qCDebug(lcUpload).noquote() << m_video << "-- nothing on page" << page() << "matches role" << studio::infoOf(role).name;
    }
    return result;
}

bool UploadPipeline::click(Role role, int index)
{
    return bySelectors(role, index, true, [this](const QString &css, int i, ElementStatus *st) { return m_library.form_dom_click(page(), css, i, st); });
}

QString UploadPipeline::textOf(Role role, int index, bool noteMissing)
{
    return bySelectors(role, index, noteMissing,
                       [this](const QString &css, int i, ElementStatus *st) { return m_library.form_dom_gettext(page(), css, i, st); });
}

bool UploadPipeline::exists(Role role)
{
    // Absence is what these reads wait for: it is no missing role.
    return bySelectors(role, -1, false, [this](const QString &css, int, ElementStatus *st) { return m_library.form_dom_isexist(page(), css, st); }) == 1;
}

bool UploadPipeline::setValue(Role role, const QString &value)
{
    return bySelectors(role, -1, true,
                       [this, &value](const QString &css, int i, ElementStatus *st) { return m_library.form_dom_setvalue(page(), css, value, i, st); });
}

bool UploadPipeline::type(Role role, const QString &text)
{
    return bySelectors(role, -1, true,
                       [this, &text](const QString &css, int i, ElementStatus *st) { return m_library.form_dom_input(page(), css, text, i, st); });
}

bool UploadPipeline::upload(Role role, const QString &localPath)
{
    // A browser elsewhere reads the file where it sees it; the file itself
    // never travels over the protocol.
    QString why;
    const QString path = m_session.pathForBrowser(localPath, &why);
    if (path.isEmpty()) {
        m_unreachable = why;
        qCWarning(lcUpload).noquote() << "the browser of account" << m_account.id << "cannot reach" << localPath << "--" << why;
        return false;
    }
    return bySelectors(role, -1, true,
                       [this, &path](const QString &css, int i, ElementStatus *st) { return m_library.uploadFileTo(page(), css, i, path, st); });
}

void UploadPipeline::pause(Role wait)
{
    DelayWait(studio().waitMs(wait));
}

int UploadPipeline::page() const
{
    return m_session.lane().pageId;
}

void UploadPipeline::setVideo(const JobAccount &account, const QString &videoPath, int tickerId)
{
    m_account = account;
    m_video = videoPath;
    m_tickerId = tickerId;
}

bool UploadPipeline::uploadOneVideo()
{
    const QString videoPath = m_video;
    const int tickerId = m_tickerId;
    m_outcome = UploadOutcome::Failed;
    beginStep("opening the upload page");
    // Only this start sets the job's page: waiting for one to turn up
    // elsewhere could only ever find another account's.
    const int opened = m_session.attachOrOpenBrowser(m_account);
    if (!m_session.nodeFailure().isEmpty()) {
        m_outcome = UploadOutcome::NodeFailed;
        return failureEnd(tickerId, QStringLiteral("the browser of account %1 cannot be had: %2").arg(m_account.id, m_session.nodeFailure()));
    }
    if (!m_session.proxyFailure().isEmpty()) {
        m_outcome = UploadOutcome::ProxyFailed;
        return failureEnd(tickerId, QStringLiteral("the proxy of account %1 is not usable: %2").arg(m_account.id, m_session.proxyFailure()));
    }
    if (opened <= 0) {
        m_outcome = UploadOutcome::NoPage;
        return failureEnd(tickerId, QStringLiteral("no page on the profile of account %1 could be opened").arg(m_account.id));
    }
    if (m_session.loggedOut()) {
        m_outcome = UploadOutcome::LoggedOut;
        return failureEnd(tickerId, QStringLiteral("account %1 is not logged in: the studio shows its login").arg(m_account.id));
    }
    // A description new since the last video is proved on this page first.
    m_studio = studio::StudioDescriptions::instance().verified(studio::selectorCheckOn(m_library, page()));
    pause(Role::WaitAfterAttach);
    // The file goes only to a page of this account's own login.
    if (!m_session.isOwnPage(page(), m_account.id))
        return failureEnd(tickerId, QStringLiteral("page %1 is not on the profile of account %2").arg(page()).arg(m_account.id));
    if (m_hooks.pageReady && !m_hooks.pageReady(page())) {
        checkStop();
        return failureEnd(tickerId, QStringLiteral("the upload page lacks an element of the studio description"));
    }
    m_unreachable.clear();
    uploadVideoFile(videoPath);
    if (!m_unreachable.isEmpty())
        return failureEnd(tickerId, QStringLiteral("the account's browser cannot reach the video: %1").arg(m_unreachable));

    if (!stillInTime())
        return false;
    if (!waitUploadDone())
        return failureEnd(tickerId, m_outcome == UploadOutcome::Refused       ? QStringLiteral("the studio refused the file (\"%1\")").arg(studio().text(Role::UploadFailedText))
                                    : m_outcome == UploadOutcome::ProxyFailed ? QStringLiteral("the upload stood still and the proxy of account %1 is not usable: %2")
                                                                                    .arg(m_account.id, m_session.proxyFailure())
                                    : m_outcome == UploadOutcome::NodeFailed ? QStringLiteral("the upload stood still and the browser of account %1 is gone: %2")
                                                                                   .arg(m_account.id, m_session.nodeFailure())
                                    : m_library.form_page_isactive(page()) == 0
                                        ? QStringLiteral("the page closed before the upload finished (its browser ended or the tab was closed)")
                                        : QStringLiteral("the upload did not finish"));
    if (!stillInTime())
        return false;
    if (!setCover(videoPath))
        return failureEnd(tickerId, QStringLiteral("the cover box still says \"%1\"").arg(studio().text(Role::CoverEmptyText)));
    fillTitle(videoPath);
    fillTags();
    chooseCategory();
    if (!stillInTime())
        return false;
    const bool original = setOptions();
    if (!stillInTime())
        return false;
    if (m_form.isChecked(QStringLiteral("选择框_同步抖音"))) {
        // Original works carry the watermark box before the sync box.
        click(Role::OptionCheckbox, original ? 2 : 0);
    }
    if (submitVideo()) {
        m_outcome = UploadOutcome::Published;
        return true;
    }
    return failureEnd(tickerId, !m_scheduleFailure.isEmpty() ? m_scheduleFailure : QStringLiteral("the studio did not land on the address of a finished publish"));
}

void UploadPipeline::beginStep(const char *step)
{
    m_step = step;
    m_lastSeen.clear();
    m_missing.clear();
    qCDebug(lcUpload).noquote() << m_video << "--" << step;
}

bool UploadPipeline::stillInTime()
{
    const int limit = giveUpSeconds;
    // The page goes when the limit passes: its picture is taken first.
    if (limit > 0 && m_session.lane().elapsedSeconds > limit && m_evidence.png.isEmpty())
        evidence::capturePage(m_library, page(), m_evidence, m_studio.get());
    if (checkGiveUp(m_session.lane()))
        return true;
    QString why = QStringLiteral("its time limit of %1 s passed").arg(limit);
    if (!m_missing.isEmpty())
        why += QStringLiteral("; nothing on the page matched %1").arg(m_missing.join(QStringLiteral(", ")));
    if (!m_lastSeen.isEmpty())
        why += QStringLiteral("; the page last showed \"%1\"").arg(m_lastSeen.left(200));
    qCWarning(lcUpload).noquote() << "video" << m_video << "abandoned while" << m_step << "--" << why;
    m_abandoned = true;
    m_reason = why;
    return false;
}

bool UploadPipeline::failureEnd(int tickerId, const QString &reason)
{
    if (!m_abandoned) { // else the time limit has said why
        m_reason = reason;
        if (!m_missing.isEmpty())
            m_reason += QStringLiteral("; nothing on the page matched %1").arg(m_missing.join(QStringLiteral(", ")));
        qCWarning(lcUpload).noquote() << "video" << m_video << "failed while" << m_step << "--" << m_reason;
        evidence::capturePage(m_library, page(), m_evidence, m_studio.get());
    }
    m_session.lane().elapsedSeconds = 0;
    if (auto ticker = ElapsedTicker::find(tickerId))
        ticker->stop();
    return false;
}

void UploadPipeline::uploadVideoFile(const QString &videoPath)
{
    beginStep("handing the file to the upload input");
    m_library.form_set_window_title(page(), QStringLiteral("开始上传"));
    if (!upload(Role::VideoInput, videoPath))
        qCWarning(lcUpload).noquote() << "the file" << videoPath << "did not reach the upload input of page" << page();
    pause(Role::WaitAfterFile);
}

bool UploadPipeline::waitUploadDone()
{
    beginStep("waiting for the upload to finish");
    pause(Role::WaitBeforeProgress);
    QString lastPercent;
    int stillPolls = 0;
    for (;;) {
        const QString percent = textOf(Role::UploadPercent);
        m_library.form_set_window_title(page(), percent);
        pause(Role::WaitProgressPoll);
        if (!stillInTime())
            return false;
        const QString status = textOf(Role::UploadStatus);
        // A browser that ended, or a tab the user closed, shows nothing ever
        // again: the attempt ends now, not at its time limit.
        if (status.isEmpty() && m_library.form_page_isactive(page()) == 0)
            return false;
        m_lastSeen = status;
        processPendingEvents();
        if (status == studio().text(Role::UploadDoneText))
            return true;
        if (status == studio().text(Role::UploadFailedText)) {
            // The studio took the file and refused it: waiting longer changes nothing.
            m_outcome = UploadOutcome::Refused;
            return false;
        }
        // A page whose proxy went away retries its requests for half a
        // minute before it gives up; an upload that stands still through a
        // proxy has the proxy asked, so a dead one fails the attempt now.
        stillPolls = percent == lastPercent ? stillPolls + 1 : 0;
        lastPercent = percent;
        if (stillPolls >= 3 && m_session.nodeUnusable(m_account)) {
            m_outcome = UploadOutcome::NodeFailed;
            return false;
        }
        if (stillPolls >= 3 && m_session.viaProxy()) {
            stillPolls = 0;
            if (m_session.proxyUnusable(m_account)) {
                m_outcome = UploadOutcome::ProxyFailed;
                return false;
            }
        }
    }
}

bool UploadPipeline::waitWhile(const std::function<bool()> &condition)
{
    // These waits also honour the time limit: a dialog that never changes
    // must not hold the run for good.
    while (condition()) {
        DelayWait(1, 1);
        processPendingEvents();
        if (!stillInTime())
            return false;
    }
    return true;
}

bool UploadPipeline::setCover(const QString &videoPath)
{
    beginStep("setting the cover");
    m_library.form_set_window_title(page(), QStringLiteral("开始设置封面"));
    const QString noCover = studio().text(Role::CoverEmptyText);
    if (textOf(Role::CoverBox) != noCover)
        return true;
    click(Role::CoverBox);
    pause(Role::WaitCoverStep);
    if (!m_form.isChecked(QStringLiteral("单选框_系统封面_随机"))) {
        const QString picture = videofiles::chooseCoverFile(m_form, videoPath);
        if (!picture.isEmpty()) {
            click(Role::CoverLocalTab);
            upload(Role::CoverInput, picture);
        }
    }
    if (!waitWhile([this] { return exists(Role::CoverConfirmDisabled); }))
        return false;
    click(Role::CoverConfirm);
    if (!waitWhile([this] { return exists(Role::CropOkDisabled); }))
        return false;
    pause(Role::WaitCoverStep);
    click(Role::CropOk);
    pause(Role::WaitCoverStep);
    click(Role::CoverFinalConfirm);
    pause(Role::WaitAfterCoverConfirm);
    const QString uploading = studio().text(Role::CoverUploadingText);
    if (!waitWhile([this, &uploading] { return textOf(Role::CoverDialogButton, -1, false) == uploading; }))
        return false;
    pause(Role::WaitCoverStep);
    return textOf(Role::CoverBox) != noCover;
}

QString UploadPipeline::titleFor(const QString &videoPath) const
{
    return m_form.text(QStringLiteral("编辑框_标题前")) + videofiles::fileNameOf(videoPath, false) + m_form.text(QStringLiteral("编辑框_标题后"));
}

void UploadPipeline::fillTitle(const QString &videoPath)
{
    beginStep("typing the title");
    const QString title = m_title.isEmpty() ? titleFor(videoPath) : m_title;
    setValue(Role::TitleInput, QString());
    pause(Role::WaitAfterTitleClear);
    if (!type(Role::TitleInput, title))
        qCWarning(lcUpload).noquote() << "the title" << title << "could not be typed: page" << page() << "has no title field";
    pause(Role::WaitAfterTitle);
}

void UploadPipeline::fillTags()
{
    beginStep("entering the tags");
    using pageparts::TagMode;
    const TagMode mode = m_form.isChecked(QStringLiteral("单选框标签固定"))       ? TagMode::Fixed
                         : m_form.isChecked(QStringLiteral("单选框_系统推荐标签")) ? TagMode::Recommended
                         : m_form.isChecked(QStringLiteral("单选框_混合标签"))     ? TagMode::Mixed
                                                                                  : TagMode::None;
    if (mode == TagMode::None)
        return;
    if (!studio().has(Role::TagField)) {
        qCInfo(lcUpload) << "the studio description has no tag_field: no tags are entered";
        return;
    }
    const QStringList fixed = m_videoTags.isEmpty() ? pageparts::splitFixedTags(m_form.text(QStringLiteral("编辑框_固定标签"))) : m_videoTags;
    const int count = mode == TagMode::Recommended ? m_form.text(QStringLiteral("编辑框_系统标签个数")).toInt()
                                                   : m_form.text(QStringLiteral("编辑框_混合标签个数")).toInt();
    const QStringList recommended = mode == TagMode::Fixed ? QStringList() : pageparts::textsOf(m_library, page(), studio(), Role::RecommendedTag);
    // Never more than the studio takes, counting what the page holds already.
    const int limit = studio().has(Role::TagLimit) ? studio().number(Role::TagLimit) : 0;
    QStringList held = pageparts::textsOf(m_library, page(), studio(), Role::TagChip);
    for (QString &t : held)
        t = pageparts::chooseTags(TagMode::Fixed, {t}, {}, 0, 0).value(0);
    QStringList tags;
    for (const QString &t : pageparts::chooseTags(mode, fixed, recommended, count, 0)) {
        if (!held.contains(t, Qt::CaseInsensitive))
            tags.append(t);
    }
    if (limit > 0)
        tags = tags.mid(0, std::max<qsizetype>(limit - held.size(), 0));
    if (tags.isEmpty())
        return;
    bySelectors(Role::TagField, -1, true, [this, &tags](const QString &css, int i, ElementStatus *st) { return m_library.typeAndConfirm(page(), css, i, tags, st); });
    pause(Role::WaitAfterTags);
    QStringList taken = pageparts::textsOf(m_library, page(), studio(), Role::TagChip);
    for (QString &t : taken)
        t = pageparts::chooseTags(TagMode::Fixed, {t.remove(QStringLiteral("×"))}, {}, 0, 0).value(0);
    for (const QString &t : tags) {
        if (!taken.contains(t, Qt::CaseInsensitive))
            qCWarning(lcUpload).noquote() << m_video << "-- the studio did not take the tag" << t << "; it is skipped";
    }
}

void UploadPipeline::chooseCategory()
{
    const qint64 first = m_form.comboItems(QStringLiteral("组合框_一级分类")).value(m_form.comboIndex(QStringLiteral("组合框_一级分类"))).value;
    const qint64 second = m_form.comboItems(QStringLiteral("组合框_二级分类")).value(m_form.comboIndex(QStringLiteral("组合框_二级分类"))).value;
    if (first <= 0)
        return;
    beginStep("choosing the category");
    for (Role r : {Role::CategoryPicker, Role::CategoryFirst, Role::CategorySecond, Role::CategoryIdAttribute}) {
        if (!studio().has(r)) {
            qCInfo(lcUpload) << "the studio description has no" << studio::infoOf(r).name << ": no category is chosen";
            return;
        }
    }
    const QString attribute = studio().text(Role::CategoryIdAttribute);
    const auto clickItem = [&](Role role, qint64 id) {
        return bySelectors(role, 0, true, [&](const QString &css, int i, ElementStatus *st) {
            return m_library.form_dom_click(page(), pageparts::withAttribute(css, attribute, id), i, st);
        });
    };
    click(Role::CategoryPicker);
    pause(Role::WaitCategoryStep);
    clickItem(Role::CategoryFirst, first);
    pause(Role::WaitCategoryStep);
    if (second > 0 && !clickItem(Role::CategorySecond, second))
        qCWarning(lcUpload).noquote() << m_video << "-- the category" << first << "/" << second << "could not be chosen on page" << page();
    pause(Role::WaitCategoryStep);
}

bool UploadPipeline::setSchedule()
{
    for (Role r : {Role::ScheduleTimed, Role::ScheduleTime}) {
        if (!studio().has(r)) {
            m_scheduleFailure = QStringLiteral("scheduled publishing is on, but the studio description has no %1").arg(QString::fromLatin1(studio::infoOf(r).name));
            return false;
        }
    }
    const QString text = m_scheduled.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    click(Role::ScheduleTimed);
    pause(Role::WaitCategoryStep);
    setValue(Role::ScheduleTime, QString());
    bySelectors(Role::ScheduleTime, -1, true, [&](const QString &css, int i, ElementStatus *st) { return m_library.typeAndConfirm(page(), css, i, {text}, st); });
    pause(Role::WaitAfterSchedule);
    const QString shown = textOf(Role::ScheduleTime);
    m_lastSeen = shown;
    if (shown.trimmed() == text)
        return true;
    m_scheduleFailure = QStringLiteral("the studio did not take the scheduled time %1 (its field reads \"%2\")").arg(text, shown);
    return false;
}

bool UploadPipeline::setOptions()
{
    beginStep("ticking the options");
    bool watermark = false;
    const bool original = m_form.isChecked(QStringLiteral("单选框_原创"));
    if (original) {
        click(Role::OriginalRadio);
        if (m_form.isChecked(QStringLiteral("选择框_加水印"))) {
            watermark = true;
            click(Role::OptionCheckbox);
        }
    } else {
        click(Role::RepostRadio);
    }
    pause(Role::WaitAfterOptions);
    if (exists(Role::CheckedCheckbox))
        click(Role::UntickCheckbox, watermark ? 2 : 1);
    return original;
}

bool UploadPipeline::submitVideo()
{
    beginStep("submitting");
    pause(Role::WaitBeforeSubmit);
    const bool draft = m_form.isChecked(QStringLiteral("选择框_保存草稿"));
    const Role button = draft ? Role::DraftButton : Role::PublishButton;
    const QString expected = m_origin + studio().path(draft ? Role::DraftLanding : Role::PublishLanding);
    const QString before = m_library.form_get_page_url(page());
    // A video to go out at a set time never goes out at once instead.
    if (!draft && m_scheduled.isValid() && !setSchedule())
        return false;
    if (m_hooks.beforeSubmit && !m_hooks.beforeSubmit())
        return false;
    // Every confirmed press publishes once more. A press is repeated only
    // while none has shown any effect (its dialog never opened and the
    // address is the one before it). Once a dialog was confirmed the studio
    // has the video or is still sending it: from then on the loop only waits
    // for the landing address, and a video that never lands stays
    // "submitting" in the journal, for the content pages to settle.
    bool confirmed = false;
    for (;;) {
        if (!confirmed) {
            click(button);
            pause(Role::WaitAfterSubmitPress);
            // The dialog's confirm button (built in: the fifth .m-button);
            // there is none while the dialog is closed.
            confirmed = bySelectors(Role::SubmitConfirm, -1, false,
                                    [this](const QString &css, int i, ElementStatus *st) { return m_library.form_dom_click(page(), css, i, st); });
            if (confirmed)
                qCDebug(lcUpload).noquote() << m_video << "-- the submit dialog was confirmed; publish is not pressed again";
        }
        const QString address = m_library.form_get_page_url(page());
        m_lastSeen = address;
        // The address first: a publish that landed as the time ran out counts.
        if (address == expected)
            break;
        if (!stillInTime())
            return false;
        // A press that changed the address without a dialog (a studio that
        // publishes at once) has taken effect too.
        if (!address.isEmpty() && address != before)
            confirmed = true;
        if (confirmed)
            DelayWait(1, 1);
    }
    if (m_hooks.afterLanding)
        m_hooks.afterLanding(draft);
    m_library.form_js_dialog_overwrite(page());
    pause(Role::WaitAfterLanding);
    m_library.form_forward_url(page(), m_origin + studio().path(Role::UploadPath));
    return true;
}
