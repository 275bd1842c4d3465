#include "studio/studio_description.h"

namespace studio {

// The studio's pages as the program was built for them. docs/studio-description.md
// explains every role; a file with the same shape in data/studio.json takes
// this one's place.
QByteArray StudioDescription::builtInJson()
{
    return QByteArrayLiteral(R"JSON({
  "schema": "tolvar-studio/1",
  "version": 1,
  "roles": {
    "user_name": {"selectors": [".user-info__username"]},
    "video_input": {"selectors": ["input[type=file]"], "index": 1},
    "cover_input": {"selectors": ["input[type=file]"], "index": 2},
    "upload_percent": {"selectors": [".percent"]},
    "upload_status": {"selectors": [".status"]},
    "cover_box": {"selectors": [".m-quorl-upload"]},
    "cover_local_tab": {"selectors": ["ul > li:nth-child(2)"], "index": 3},
    "cover_confirm_disabled": {"selectors": [".m-button.red.cannot-click"]},
    "cover_confirm": {"selectors": [".m-button.red"], "index": 2},
    "crop_ok_disabled": {"selectors": [".btn-l.btn-sure.ml16.disabled"]},
    "crop_ok": {"selectors": [".btn-l.btn-sure.ml16"]},
    "cover_final_confirm": {"selectors": [".m-button.red.undefined"]},
    "cover_dialog_button": {"selectors": ["button[class^=btn-l]"], "index": 2},
    "title_input": {"selectors": ["div.video-form-item-wrapper > div > div > div > input"]},
    "original_radio": {"selectors": [".byte-radio-inner-text"], "index": 1},
    "repost_radio": {"selectors": [".byte-radio-inner-text"], "index": 2},
    "option_checkbox": {"selectors": [".byte-checkbox-mask"]},
    "checked_checkbox": {"selectors": [".byte-checkbox.byte-checkbox-checked"]},
    "untick_checkbox": {"selectors": ["byte-checkbox-mask"]},
    "publish_button": {"selectors": ["#js-submit-0 > button"]},
    "draft_button": {"selectors": ["#js-submit-draft-0 > button"]},
    "submit_confirm": {"selectors": [".m-button"], "index": 4},
    "content_item": {"selectors": [".content-item"]},
    "content_item_title": {"selectors": [".content-item__title"]},
    "content_empty": {"selectors": [".content-empty"]},
    "tag_field": {"selectors": [".tag-input__field"]},
    "tag_chip": {"selectors": [".tag-input > .tag-chip"]},
    "recommended_tag": {"selectors": [".tag-recommend__item"]},
    "category_picker": {"selectors": [".category-picker"]},
    "category_first": {"selectors": [".category-panel__first"]},
    "category_second": {"selectors": [".category-panel__second"]},
    "category_tree_first": {"selectors": [".category-tree__first"]},
    "category_tree_second": {"selectors": [".category-tree__second"]},
    "schedule_timed": {"selectors": ["label.schedule-mode[data-value=timed]"]},
    "schedule_time": {"selectors": ["input.schedule-time"]},
    "upload_box_text": {"text": "点击上传或将"},
    "upload_done_text": {"text": "上传成功"},
    "upload_failed_text": {"text": "上传失败"},
    "cover_empty_text": {"text": "上传封面"},
    "cover_uploading_text": {"text": "上传中"},
    "login_path_text": {"text": "login"},
    "category_id_attribute": {"text": "data-id"},
    "category_name_attribute": {"text": "data-name"},
    "upload_path": {"path": "/upload"},
    "publish_landing": {"path": "/content?tab=video&investigation_param=cover_edited"},
    "draft_landing": {"path": "/content?tab=draft"},
    "content_videos": {"path": "/content?tab=video"},
    "content_drafts": {"path": "/content?tab=draft"},
    "wait_after_attach": {"ms": 1000},
    "wait_after_file": {"ms": 3000},
    "wait_before_progress": {"ms": 2000},
    "wait_progress_poll": {"ms": 1000},
    "wait_upload_box_poll": {"ms": 500},
    "wait_cover_step": {"ms": 1000},
    "wait_after_cover_confirm": {"ms": 2000},
    "wait_after_title_clear": {"ms": 300},
    "wait_after_title": {"ms": 500},
    "wait_after_options": {"ms": 3000},
    "wait_before_submit": {"ms": 500},
    "wait_after_submit_press": {"ms": 2000},
    "wait_after_landing": {"ms": 3000},
    "wait_after_tags": {"ms": 500},
    "wait_category_step": {"ms": 500},
    "wait_after_schedule": {"ms": 500},
    "tag_limit": {"value": 10},
    "schedule_min_lead_minutes": {"value": 120},
    "schedule_max_days": {"value": 14}
  }
}
)JSON");
}

} // namespace studio
