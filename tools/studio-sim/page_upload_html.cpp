#include "pages.h"

namespace studiosim {

// Document order matters to scripts that address elements by selector and
// position: the header's "发布视频" button is the first .m-button.red and the
// first .m-button; the top and side menus hold the first two
// "ul > li:nth-child(2)"; the video input precedes the cover input; publish and
// draft are the second and third .m-button. Dialogs are appended at the end of
// <body> while open and removed when closed. The hidden category tree is moved
// by the script to the very end of the document (after <body>), so its lists
// never count among those "ul > li" matches.
const char *const kUploadHtml = R"HTML(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>发布视频 - 创作服务平台</title>
<style>{{STYLE}}</style>
</head>
<body>
{{HEADER}}
<div class="layout">
  <aside class="side">
    <ul class="side-menu">
      <li class="side-menu__item side-menu__item--active">发布视频</li>
      <li class="side-menu__item"><a href="/content?tab=video">作品管理</a></li>
      <li class="side-menu__item"><a href="/content?tab=draft">草稿箱</a></li>
    </ul>
  </aside>
  <main class="main">
    <section class="upload-card">
      <div class="upload-zone" id="upload-zone">
        <input type="file" class="upload-input" id="video-input" accept="video/mp4,video/*">
        <div class="upload-zone__icon"></div>
        <div class="upload-zone__text">点击上传或将视频文件拖入此区域</div>
        <div class="upload-zone__hint">支持 MP4 格式，单个文件不超过 8 GB</div>
      </div>
      <div class="upload-progress" id="upload-progress">
        <span class="upload-progress__name" id="upload-name"></span>
        <div class="upload-progress__bar"><div class="upload-progress__fill" id="upload-fill"></div></div>
        <span class="percent" id="upload-percent">0%</span>
        <span class="status" id="upload-status"></span>
      </div>
    </section>

    <section class="video-form">
      <div class="form-label">作品标题</div>
      <div class="video-form-item-wrapper">
        <div class="video-form-item">
          <div class="video-form-item__control">
            <div class="byte-input-wrapper">
              <input class="byte-input" id="title-input" type="text" placeholder="好的标题可以获得更多的浏览">
            </div>
          </div>
        </div>
      </div>

      <div class="form-label">标签</div>
      <div class="tag-input">
        <input class="tag-input__field" type="text" placeholder="输入标签，回车确认" autocomplete="off">
      </div>
      <div class="tag-recommend"></div>

      <div class="form-label">分类</div>
      <div class="category-field">
        <div class="category-picker"><span class="category-picker__value">选择分类</span></div>
        {{CATEGORY_TREE}}
      </div>

      <div class="form-label">封面</div>
      <div class="cover-row">
        <div class="m-quorl-upload" id="cover-box">上传封面</div>
        <input type="file" class="cover-input" id="cover-input" accept="image/jpeg,image/png,image/gif,image/webp">
      </div>

      <div class="form-label">声明</div>
      <div class="byte-radio-group" id="origin-group">
        <label class="byte-radio" data-value="original"><span class="byte-radio-inner"></span><span class="byte-radio-inner-text">原创</span></label>
        <label class="byte-radio" data-value="repost"><span class="byte-radio-inner"></span><span class="byte-radio-inner-text">转载</span></label>
      </div>

      <div class="form-label">设置</div>
      <div class="option-list" id="option-list"></div>

      <div class="form-label">发布时间</div>
      <div class="schedule-group">
        <label class="schedule-mode schedule-mode--checked" data-value="now">立即发布</label>
        <label class="schedule-mode" data-value="timed">定时发布</label>
        <input class="schedule-time" type="text" placeholder="选择发布时间" autocomplete="off" hidden>
      </div>

      <div class="submit-bar">
        <div id="js-submit-0" class="submit-item"><button type="button" class="m-button primary">发布</button></div>
        <div id="js-submit-draft-0" class="submit-item"><button type="button" class="m-button">存草稿</button></div>
      </div>
      <div class="toast" id="toast"></div>
    </section>
  </main>
</div>
<script>window.SIM_CONFIG = {{CONFIG}};</script>
<script>{{SCRIPT}}</script>
</body>
</html>
)HTML";

} // namespace studiosim
