#include "pages.h"

namespace studiosim {

const char *const kPageCss = R"CSS(
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.5 "Noto Sans CJK SC", "PingFang SC", "Microsoft YaHei", sans-serif; color: #161823; background: #f4f5f7; }
a { color: inherit; text-decoration: none; }
button { font: inherit; cursor: pointer; }
.topbar { display: flex; align-items: center; height: 56px; padding: 0 24px; background: #fff; border-bottom: 1px solid #e8e8e8; }
.topbar__logo { font-weight: 600; font-size: 16px; margin-right: 32px; }
.topbar__nav { display: flex; list-style: none; margin: 0; padding: 0; flex: 1; }
.topbar__nav li { margin-right: 24px; }
.topbar__publish { margin-right: 24px; }
.user-info { display: flex; align-items: center; }
.user-info__avatar { width: 28px; height: 28px; border-radius: 50%; background: #fe2c55; margin-right: 8px; }
.layout { display: flex; }
.side { width: 160px; background: #fff; min-height: calc(100vh - 56px); }
.side-menu { list-style: none; margin: 0; padding: 16px 0; }
.side-menu__item { padding: 8px 24px; }
.side-menu__item--active { color: #fe2c55; font-weight: 600; }
.main { flex: 1; padding: 16px 24px; max-width: 900px; }
.upload-card, .video-form, .content-card { background: #fff; border-radius: 4px; padding: 16px 24px; margin-bottom: 16px; }
.upload-zone { position: relative; border: 1px dashed #c8c8cc; border-radius: 4px; padding: 24px; text-align: center; cursor: pointer; }
.upload-input, .cover-input { display: none; }
.upload-zone__icon { width: 32px; height: 32px; margin: 0 auto 8px; border-radius: 4px; background: #fe2c55; }
.upload-zone__hint { color: #8a8b91; font-size: 12px; }
.upload-progress { display: flex; align-items: center; gap: 12px; margin-top: 12px; min-height: 22px; }
.upload-progress__name { flex: 0 1 240px; overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
.upload-progress__bar { flex: 1; height: 6px; background: #eee; border-radius: 3px; overflow: hidden; }
.upload-progress__fill { height: 100%; width: 0; background: #fe2c55; }
.percent { width: 44px; text-align: right; }
.status { width: 64px; }
.form-label { margin: 12px 0 6px; font-weight: 600; }
.byte-input-wrapper { border: 1px solid #d9d9d9; border-radius: 4px; }
.byte-input { width: 100%; border: 0; padding: 8px 10px; font: inherit; outline: none; }
.cover-row { display: flex; }
.m-quorl-upload { width: 160px; height: 90px; display: flex; align-items: center; justify-content: center; border: 1px dashed #c8c8cc; border-radius: 4px; cursor: pointer; background: #fafafa center / cover no-repeat; }
.m-quorl-upload--done { color: #fff; text-shadow: 0 0 2px #000; border-style: solid; background-color: #6b7a8f; }
.byte-radio-group { display: flex; gap: 24px; }
.byte-radio, .byte-checkbox { display: inline-flex; align-items: center; cursor: pointer; user-select: none; }
.byte-radio-inner { width: 16px; height: 16px; border: 1px solid #c8c8cc; border-radius: 50%; margin-right: 6px; }
.byte-radio-checked .byte-radio-inner { border: 5px solid #fe2c55; }
.option-list { display: flex; flex-direction: column; gap: 8px; }
.byte-checkbox-wrapper { display: inline-flex; margin-right: 6px; }
.byte-checkbox-mask { width: 16px; height: 16px; border: 1px solid #c8c8cc; border-radius: 2px; display: inline-block; }
.byte-checkbox-checked .byte-checkbox-mask { background: #fe2c55; border-color: #fe2c55; }
.tag-input { display: flex; flex-wrap: wrap; align-items: center; gap: 6px; border: 1px solid #d9d9d9; border-radius: 4px; padding: 4px 6px; min-height: 36px; cursor: text; }
.tag-input__field { flex: 1; min-width: 160px; border: 0; padding: 4px; font: inherit; outline: none; }
.tag-chip { display: inline-flex; align-items: center; background: #f2f3f5; border-radius: 3px; padding: 0 6px; height: 24px; }
.tag-chip__remove { display: inline-block; width: 14px; height: 14px; margin-left: 4px; cursor: pointer; font-style: normal; line-height: 14px; text-align: center; color: #8a8b91; }
.tag-chip__remove::after { content: "×"; }
.tag-recommend { display: flex; flex-wrap: wrap; gap: 8px; margin-top: 6px; min-height: 22px; }
.tag-recommend__item { color: #2f6fd6; cursor: pointer; }
.category-field { position: relative; }
.category-picker { display: inline-flex; align-items: center; min-width: 240px; height: 34px; padding: 0 10px; border: 1px solid #d9d9d9; border-radius: 4px; cursor: pointer; color: #8a8b91; }
.category-picker--chosen { color: #161823; }
.category-panel { position: absolute; left: 0; top: 38px; z-index: 60; display: flex; background: #fff; border: 1px solid #e8e8e8; border-radius: 4px; box-shadow: 0 4px 12px rgba(0,0,0,.12); }
.category-panel__list { list-style: none; margin: 0; padding: 4px 0; min-width: 120px; }
.category-panel__list + .category-panel__list { border-left: 1px solid #eee; }
.category-panel__first, .category-panel__second { padding: 6px 12px; cursor: pointer; }
.category-panel__first--active { color: #fe2c55; background: #fff5f7; }
.schedule-group { display: flex; align-items: center; gap: 24px; }
.schedule-mode { display: inline-flex; align-items: center; cursor: pointer; user-select: none; }
.schedule-mode::before { content: ""; width: 16px; height: 16px; border: 1px solid #c8c8cc; border-radius: 50%; margin-right: 6px; }
.schedule-mode--checked::before { border: 5px solid #fe2c55; }
.schedule-time { width: 200px; height: 34px; padding: 0 10px; border: 1px solid #d9d9d9; border-radius: 4px; font: inherit; }
.schedule-time[hidden] { display: none; }
.submit-bar { display: flex; gap: 12px; margin-top: 24px; }
.m-button { min-width: 88px; height: 34px; padding: 0 16px; border: 1px solid #d9d9d9; border-radius: 4px; background: #fff; }
.m-button.red, .m-button.primary { background: #fe2c55; border-color: #fe2c55; color: #fff; }
.m-button.cannot-click { opacity: .45; cursor: not-allowed; }
.m-button-text { border: 0; background: none; color: #8a8b91; padding: 0 12px; height: 34px; }
.btn-l { min-width: 80px; height: 32px; border: 1px solid #d9d9d9; border-radius: 4px; background: #fff; }
.btn-sure { background: #fe2c55; border-color: #fe2c55; color: #fff; }
.btn-l.disabled { opacity: .45; cursor: not-allowed; }
.ml16 { margin-left: 16px; }
.modal-mask { position: fixed; inset: 0; background: rgba(0,0,0,.45); display: flex; align-items: center; justify-content: center; z-index: 100; }
.modal { background: #fff; border-radius: 6px; width: 480px; max-width: 92vw; max-height: 90vh; overflow: auto; padding: 16px 20px; }
.modal--small { width: 360px; }
.modal__title { font-size: 16px; font-weight: 600; margin-bottom: 12px; }
.modal__body { margin-bottom: 12px; }
.modal__footer { display: flex; justify-content: flex-end; gap: 8px; margin-top: 12px; }
.cover-tabs { display: flex; list-style: none; margin: 0 0 12px; padding: 0; border-bottom: 1px solid #eee; }
.cover-tabs__item { padding: 6px 16px; cursor: pointer; }
.cover-tabs__item.active { color: #fe2c55; border-bottom: 2px solid #fe2c55; }
.cover-panel { min-height: 120px; }
.cover-panel__hint { color: #8a8b91; padding: 40px 0; text-align: center; }
.cover-panel__error { color: #fe2c55; }
.frames { display: flex; gap: 8px; }
.frame { width: 96px; height: 54px; border-radius: 3px; border: 2px solid transparent; cursor: pointer; }
.frame--0 { background: #6b7a8f; } .frame--1 { background: #8f6b7a; } .frame--2 { background: #7a8f6b; } .frame--3 { background: #8f846b; }
.frame--active { border-color: #fe2c55; }
.cover-drop { border: 1px dashed #c8c8cc; border-radius: 4px; min-height: 110px; display: flex; align-items: center; justify-content: center; cursor: pointer; }
.cover-drop__img { max-width: 100%; max-height: 160px; }
.crop-preview { height: 120px; background: #6b7a8f center / cover no-repeat; border-radius: 4px; }
.toast { position: fixed; left: 50%; top: 80px; transform: translateX(-50%); background: rgba(0,0,0,.75); color: #fff; padding: 8px 16px; border-radius: 4px; display: none; z-index: 200; }
.toast--show { display: block; }
.login-card { width: 360px; margin: 120px auto; background: #fff; padding: 24px; border-radius: 6px; }
.login-card input { width: 100%; padding: 8px; margin: 12px 0; font: inherit; }
.login-error { color: #fe2c55; }
.content-tabs { display: flex; gap: 24px; margin-bottom: 12px; }
.content-tabs a.active { color: #fe2c55; font-weight: 600; }
.content-table { width: 100%; border-collapse: collapse; }
.content-table td, .content-table th { border-bottom: 1px solid #eee; padding: 6px 8px; text-align: left; }
)CSS";

} // namespace studiosim
