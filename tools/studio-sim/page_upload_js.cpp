#include "pages.h"

namespace studiosim {

const char *const kUploadJs = R"JS(
(function () {
  'use strict';
  var cfg = window.SIM_CONFIG || {};
  var dialogDelay = cfg.dialogDelay || 800;
  var submitDelay = cfg.submitDelay || 300;

  function $(sel, root) { return (root || document).querySelector(sel); }
  function sleep(ms) { return new Promise(function (r) { setTimeout(r, ms); }); }
  function make(tag, cls, html) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (html) e.innerHTML = html;
    return e;
  }
  function toast(msg) {
    var t = $('#toast');
    t.textContent = msg;
    t.classList.add('toast--show');
    clearTimeout(toast.timer);
    toast.timer = setTimeout(function () { t.classList.remove('toast--show'); }, 3000);
  }
  function api(method, url, body) {
    var opts = { method: method, credentials: 'same-origin' };
    if (body !== undefined) opts.body = body;
    if (typeof body === 'string') opts.headers = { 'Content-Type': 'application/json' };
    return fetch(url, opts).then(function (res) {
      return res.json().catch(function () { return {}; }).then(function (data) {
        return { status: res.status, data: data || {} };
      });
    }, function () { return { status: 0, data: {} }; });
  }

  var state = { uploadToken: 0, uploadId: '', coverId: '', original: null, watermark: false, sync: false };

  // ---- video upload: chunked PUTs, each with its own upload progress ----
  var videoInput = $('#video-input');
  var percentEl = $('.percent');
  var statusEl = $('.status');
  var fillEl = $('#upload-fill');
  function setPercent(p) {
    p = Math.max(0, Math.min(100, Math.floor(p)));
    percentEl.textContent = p + '%';
    fillEl.style.width = p + '%';
  }
  function setStatus(text) { statusEl.textContent = text; }

  function sendChunk(id, offset, blob, onProgress) {
    return new Promise(function (resolve) {
      var x = new XMLHttpRequest();
      x.open('PUT', '/api/upload/chunk?id=' + encodeURIComponent(id) + '&offset=' + offset);
      x.upload.onprogress = function (e) { onProgress(e.loaded); };
      x.onload = function () {
        var d = {};
        try { d = JSON.parse(x.responseText); } catch (e) { d = {}; }
        resolve({ status: x.status, data: d });
      };
      x.onerror = x.onabort = x.ontimeout = function () { resolve({ status: 0, data: {} }); };
      x.send(blob);
    });
  }

  async function uploadVideo(file) {
    var token = ++state.uploadToken;
    state.uploadId = '';
    $('#upload-name').textContent = file.name;
    $('#upload-progress').classList.add('upload-progress--active');
    setPercent(0);
    setStatus('上传中');
    recommendBox.replaceChildren();
    var init = await api('POST', '/api/upload/init', JSON.stringify({ name: file.name, size: file.size }));
    if (token !== state.uploadToken) return;
    if (init.status !== 200 || !init.data.id) { setStatus('上传失败'); return; }
    var id = init.data.id, chunk = init.data.chunk || 262144;
    var received = 0, stalled = false, networkErrors = 0;
    for (;;) {
      // While stalled, an empty request asks whether the server takes data again.
      var end = stalled ? received : Math.min(file.size, received + chunk);
      var base = received;
      var r = await sendChunk(id, received, file.slice(received, end), function (loaded) {
        if (!stalled && token === state.uploadToken) setPercent((base + loaded) * 100 / file.size);
      });
      if (token !== state.uploadToken) return;
      if (r.status === 0) {
        if (++networkErrors > 30) { setStatus('上传失败'); return; }
        await sleep(1000);
        continue;
      }
      networkErrors = 0;
      if (r.status !== 200 && r.status !== 409) { setStatus('上传失败'); return; }
      received = Number(r.data.received) || 0;
      setPercent(received * 100 / file.size);
      if (r.data.state === 'failed') { setStatus('上传失败'); return; }
      if (r.data.state === 'done') break;
      stalled = r.data.state === 'stalled';
      if (stalled) await sleep(1000);
    }
    state.uploadId = id;
    setPercent(100);
    setStatus('上传成功');
    showRecommended(file.name);
    // What a real studio does next: a guide bubble over the publish button,
    // a toast over the cover box, each for a while.
    if (cfg.guideBubble > 0) coverFor($('.submit-bar'), 'guide-bubble', '点击这里发布你的作品', cfg.guideBubble);
    if (cfg.coverToast > 0) coverFor(coverBox, 'cover-toast', '上传成功，可以设置封面了', cfg.coverToast);
  }

  function coverFor(target, cls, text, ms) {
    var r = target.getBoundingClientRect();
    var e = make('div', cls, text);
    e.style.cssText = 'position:absolute;z-index:50;background:#fffbe6;border:1px solid #f0c040;padding:4px;' +
      'left:' + (r.left + scrollX - 4) + 'px;top:' + (r.top + scrollY - 4) + 'px;width:' + (r.width + 8) + 'px;height:' + (r.height + 8) + 'px';
    e.addEventListener('click', function () { e.dataset.clicked = (Number(e.dataset.clicked || 0) + 1) + ''; });
    document.body.appendChild(e);
    setTimeout(function () { e.remove(); }, ms);
  }

  if (cfg.hiddenInputs) document.querySelectorAll('input[type=file]').forEach(function (i) { i.style.display = 'none'; });
  if (cfg.lateForm) {
    // The cover section belongs with the form, wherever the design puts it.
    var coverRow = $('.cover-row');
    var late = [$('.video-form'), coverRow, coverRow.previousElementSibling];
    late.forEach(function (e) { e.style.display = 'none'; });
    videoInput.addEventListener('change', function () {
      setTimeout(function () { late.forEach(function (e) { e.style.display = ''; }); }, 1000);
    });
  }

  videoInput.addEventListener('change', function () {
    var f = videoInput.files && videoInput.files[0];
    if (f) uploadVideo(f);
  });
  var zone = $('#upload-zone');
  zone.addEventListener('click', function (e) { if (e.target !== videoInput) videoInput.click(); });
  zone.addEventListener('dragover', function (e) { e.preventDefault(); });
  zone.addEventListener('drop', function (e) {
    e.preventDefault();
    var f = e.dataTransfer.files && e.dataTransfer.files[0];
    if (f) uploadVideo(f);
  });

  // ---- cover: picker dialog, crop dialog, final confirmation ----
  var coverBox = $('.m-quorl-upload');
  var coverInput = $('#cover-input');
  var activeCover = null;

  function closeCover() {
    ['.final-modal', '.crop-modal', '.cover-modal'].forEach(function (s) {
      var m = $(s);
      if (m) m.remove();
    });
    activeCover = null;
  }

  function openCoverDialog() {
    if (activeCover) return;
    var mask = make('div', 'modal-mask cover-modal',
      '<div class="modal"><div class="modal__title">设置封面</div>' +
      '<ul class="cover-tabs"><li class="cover-tabs__item active">截取封面</li><li class="cover-tabs__item">上传封面</li></ul>' +
      '<div class="cover-panel"></div>' +
      '<div class="modal__footer"><button type="button" class="m-button">取消</button>' +
      '<button type="button" class="m-button red cannot-click">完成</button></div></div>');
    document.body.appendChild(mask);
    var tabs = mask.querySelectorAll('.cover-tabs__item');
    var panel = $('.cover-panel', mask);
    var buttons = mask.querySelectorAll('.modal__footer button');
    var c = { tab: 1, framesReady: false, picture: null, pictureReady: false, preview: '', frame: 0 };
    activeCover = c;

    c.refresh = function () {
      var ready = c.tab === 1 ? c.framesReady : c.pictureReady;
      buttons[1].classList.toggle('cannot-click', !ready);
    };
    c.render = function () {
      tabs.forEach(function (t, i) { t.classList.toggle('active', i === c.tab - 1); });
      if (c.tab === 1) {
        panel.innerHTML = c.framesReady
          ? '<div class="frames">' + [0, 1, 2, 3].map(function (i) {
              return '<span class="frame frame--' + i + (i === c.frame ? ' frame--active' : '') + '" data-i="' + i + '"></span>';
            }).join('') + '</div>'
          : '<div class="cover-panel__hint">正在截取视频帧…</div>';
        panel.querySelectorAll('.frame').forEach(function (f) {
          f.addEventListener('click', function () { c.frame = Number(f.dataset.i); c.render(); });
        });
      } else {
        panel.innerHTML = '<div class="cover-drop">' +
          (c.preview ? '<img class="cover-drop__img" alt="">' : '<div class="cover-panel__hint">点击上传图片，支持 JPG、PNG</div>') +
          '</div><div class="cover-panel__error"></div>';
        if (c.preview) $('.cover-drop__img', panel).src = c.preview;
        $('.cover-drop', panel).addEventListener('click', function () { coverInput.click(); });
      }
      c.refresh();
    };
    c.choosePicture = async function (file) {
      c.pictureReady = false;
      c.picture = null;
      c.refresh();
      var head = new Uint8Array(await file.slice(0, 12).arrayBuffer());
      var isImage = (head[0] === 0xFF && head[1] === 0xD8 && head[2] === 0xFF) ||
        (head[0] === 0x89 && head[1] === 0x50 && head[2] === 0x4E && head[3] === 0x47) ||
        (head[0] === 0x47 && head[1] === 0x49 && head[2] === 0x46) ||
        (head[0] === 0x52 && head[1] === 0x49 && head[8] === 0x57 && head[9] === 0x45);
      if (activeCover !== c) return;
      if (!isImage) {
        c.render();
        $('.cover-panel__error', panel).textContent = '图片格式不支持';
        return;
      }
      c.picture = file;
      c.preview = URL.createObjectURL(file);
      c.render();
      await sleep(dialogDelay); // the studio prepares the picture before it can be used
      if (activeCover !== c || c.picture !== file) return;
      c.pictureReady = true;
      c.refresh();
    };

    tabs.forEach(function (t, i) { t.addEventListener('click', function () { c.tab = i + 1; c.render(); }); });
    buttons[0].addEventListener('click', closeCover);
    buttons[1].addEventListener('click', function () {
      if (buttons[1].classList.contains('cannot-click') || $('.crop-modal')) return;
      openCropDialog(c);
    });
    c.render();
    setTimeout(function () {
      if (activeCover !== c) return;
      c.framesReady = true;
      if (c.tab === 1) c.render();
    }, dialogDelay);
  }

  function openCropDialog(c) {
    var mask = make('div', 'modal-mask crop-modal',
      '<div class="modal modal--small"><div class="modal__title">裁剪封面</div>' +
      '<div class="crop-preview"></div>' +
      '<div class="modal__footer"><button type="button" class="btn-l btn-cancel">取消</button>' +
      '<button type="button" class="btn-l btn-sure ml16 disabled">确定</button></div></div>');
    document.body.appendChild(mask);
    if (c.tab === 2 && c.preview) $('.crop-preview', mask).style.backgroundImage = 'url("' + c.preview + '")';
    var cancel = $('.btn-cancel', mask), sure = $('.btn-sure', mask);
    var busy = false;
    setTimeout(function () { if (!busy) sure.classList.remove('disabled'); }, dialogDelay);
    cancel.addEventListener('click', function () { if (!busy) mask.remove(); });
    sure.addEventListener('click', function () {
      if (busy || sure.classList.contains('disabled') || $('.final-modal')) return;
      openFinalDialog(c, function () {
        busy = true;
        sure.classList.add('disabled');
        sure.textContent = '上传中';
        var req = c.tab === 2 && c.picture
          ? api('POST', '/api/cover?kind=uploaded', c.picture)
          : api('POST', '/api/cover?kind=platform&frame=' + c.frame);
        req.then(function (r) {
          if (r.status === 200 && r.data.id) {
            state.coverId = r.data.id;
            coverBox.textContent = '更换封面';
            coverBox.classList.add('m-quorl-upload--done');
            if (c.preview) coverBox.style.backgroundImage = 'url("' + c.preview + '")';
            closeCover();
          } else {
            busy = false;
            sure.textContent = '确定';
            sure.classList.remove('disabled');
            toast(r.data.error || '封面上传失败');
          }
        });
      });
    });
  }

  function openFinalDialog(c, onConfirm) {
    var mask = make('div', 'modal-mask final-modal',
      '<div class="modal modal--small"><div class="modal__title">提示</div>' +
      '<div class="modal__body">封面修改后将重新进入审核，确认使用该封面吗？</div>' +
      '<div class="modal__footer"><button type="button" class="m-button">取消</button>' +
      '<button type="button" class="m-button red undefined">确认</button></div></div>');
    document.body.appendChild(mask);
    var buttons = mask.querySelectorAll('.modal__footer button');
    buttons[0].addEventListener('click', function () { mask.remove(); });
    buttons[1].addEventListener('click', function () { mask.remove(); onConfirm(); });
  }

  coverBox.addEventListener('click', openCoverDialog);
  coverInput.addEventListener('change', function () {
    var f = coverInput.files && coverInput.files[0];
    coverInput.value = '';
    // A picture only counts while the dialog's upload tab is open.
    if (f && activeCover && activeCover.tab === 2) activeCover.choosePicture(f);
  });

  // ---- originality and options ----
  var radios = document.querySelectorAll('.byte-radio');
  var optionList = $('#option-list');
  function checkbox(text, key) {
    var label = make('label', 'byte-checkbox' + (state[key] ? ' byte-checkbox-checked' : ''),
      '<span class="byte-checkbox-wrapper"><span class="byte-checkbox-mask"></span></span>' +
      '<span class="byte-checkbox-inner-text"></span>');
    $('.byte-checkbox-inner-text', label).textContent = text;
    label.addEventListener('click', function (e) {
      e.preventDefault();
      state[key] = !state[key];
      label.classList.toggle('byte-checkbox-checked', state[key]);
    });
    return label;
  }
  function renderOptions() {
    optionList.innerHTML = '';
    // The watermark box exists only for original works.
    if (state.original) optionList.appendChild(checkbox('添加水印', 'watermark'));
    optionList.appendChild(checkbox('同步发布到合作平台', 'sync'));
  }
  radios.forEach(function (r) {
    r.addEventListener('click', function (e) {
      e.preventDefault();
      var original = r.dataset.value === 'original';
      if (state.original === original) return;
      state.original = original;
      if (!original) state.watermark = false;
      radios.forEach(function (x) { x.classList.toggle('byte-radio-checked', x === r); });
      renderOptions();
    });
  });
  renderOptions();

  // ---- tags: chips committed by Enter (or a recommended tag) only ----
  var tagBox = $('.tag-input');
  var tagField = $('.tag-input__field');
  var recommendBox = $('.tag-recommend');
  var tags = [];
  function addTag(raw) {
    var text = String(raw).trim();
    if (text.charAt(0) === '#') text = text.slice(1);
    if (!text || Array.from(text).length > 20 || /\s/.test(text)) { toast('标签不合法'); return; }
    if (tags.indexOf(text) >= 0) { toast('标签已存在'); return; }
    if (tags.length >= 10) { toast('最多添加10个标签'); return; }
    tags.push(text);
    var chip = make('span', 'tag-chip');
    chip.textContent = '#' + text;
    var remove = make('i', 'tag-chip__remove');
    remove.addEventListener('click', function (e) {
      e.stopPropagation();
      var i = tags.indexOf(text);
      if (i >= 0) tags.splice(i, 1);
      chip.remove();
    });
    chip.appendChild(remove);
    tagBox.insertBefore(chip, tagField);
  }
  function isEnter(e) { return !e.isComposing && (e.key === 'Enter' || e.keyCode === 13); }
  tagField.addEventListener('keydown', function (e) {
    if (!isEnter(e)) return;
    e.preventDefault();
    var text = tagField.value;
    tagField.value = '';
    addTag(text);
  });
  tagBox.addEventListener('click', function (e) { if (e.target === tagBox) tagField.focus(); });

  // Six distinct words from a fixed pool, picked by a hash of the file name:
  // the same name always gets the same six, in the same order.
  var tagPool = ['日常', '生活记录', '旅行', '美食', '风景', '摄影', '音乐', '搞笑', '萌宠', '运动', '知识分享', '城市'];
  function nameHash(s) {
    var h = 2166136261;
    for (var i = 0; i < s.length; i++) h = Math.imul(h ^ s.charCodeAt(i), 16777619) >>> 0;
    return h;
  }
  function showRecommended(name) {
    var h = nameHash(name), step = [1, 5, 7, 11][(h >>> 8) % 4], start = h % tagPool.length;
    recommendBox.replaceChildren();
    for (var k = 0; k < 6; k++) {
      (function (word) {
        var item = make('span', 'tag-recommend__item');
        item.textContent = '#' + word;
        item.addEventListener('click', function () { addTag(word); });
        recommendBox.appendChild(item);
      })(tagPool[(start + k * step) % tagPool.length]);
    }
  }

  // ---- category: a two-level panel fed by the hidden tree ----
  var categories = [];
  var treeEl = $('.category-tree');
  if (treeEl) {
    treeEl.querySelectorAll('.category-tree__first').forEach(function (f) {
      categories.push({ id: Number(f.dataset.id), name: f.dataset.name,
        children: Array.prototype.map.call(f.querySelectorAll('.category-tree__second'), function (c) {
          return { id: Number(c.dataset.id), name: c.dataset.name };
        }) });
    });
    // After <body>, so its lists come after everything the page appends
    // there and the page's "ul > li" positions stay what they were.
    document.documentElement.appendChild(treeEl);
  }
  var picker = $('.category-picker');
  var pickerValue = $('.category-picker__value');
  var chosenCategory = { ids: [], names: [] };
  var categoryPanel = null;
  function closeCategoryPanel() {
    if (categoryPanel) categoryPanel.remove();
    categoryPanel = null;
  }
  function categoryItem(cls, c, onClick) {
    var li = make('li', cls);
    li.dataset.id = String(c.id);
    li.textContent = c.name;
    li.addEventListener('click', onClick);
    return li;
  }
  function openCategoryPanel() {
    var panel = make('div', 'category-panel');
    var firstList = make('ol', 'category-panel__list');
    var secondList = make('ol', 'category-panel__list');
    categories.forEach(function (first) {
      var li = categoryItem('category-panel__first', first, function () {
        firstList.querySelectorAll('.category-panel__first').forEach(function (x) {
          x.classList.toggle('category-panel__first--active', x === li);
        });
        secondList.replaceChildren();
        first.children.forEach(function (second) {
          secondList.appendChild(categoryItem('category-panel__second', second, function () {
            chosenCategory = { ids: [first.id, second.id], names: [first.name, second.name] };
            pickerValue.textContent = first.name + ' / ' + second.name;
            picker.classList.add('category-picker--chosen');
            closeCategoryPanel();
          }));
        });
      });
      firstList.appendChild(li);
    });
    panel.appendChild(firstList);
    panel.appendChild(secondList);
    picker.after(panel);
    categoryPanel = panel;
  }
  picker.addEventListener('click', function () {
    if (categoryPanel) closeCategoryPanel(); else openCategoryPanel();
  });
  // As on the platform, a click anywhere else closes the panel without a choice.
  document.addEventListener('click', function (e) {
    if (categoryPanel && e.target.isConnected && !categoryPanel.contains(e.target) && !picker.contains(e.target))
      closeCategoryPanel();
  });

  // ---- schedule: the page's own committed time, not the field's text ----
  var modes = document.querySelectorAll('.schedule-mode');
  var timeField = $('.schedule-time');
  var schedule = { mode: 'now', value: '' }; // value: "YYYY-MM-DD HH:MM" once committed
  modes.forEach(function (m) {
    m.addEventListener('click', function (e) {
      e.preventDefault();
      schedule.mode = m.dataset.value === 'timed' ? 'timed' : 'now';
      modes.forEach(function (x) { x.classList.toggle('schedule-mode--checked', x === m); });
      timeField.hidden = schedule.mode !== 'timed';
    });
  });
  function clearTime() {
    schedule.value = '';
    timeField.value = '';
    delete timeField.dataset.value;
  }
  function commitTime() {
    var text = timeField.value.trim();
    if (text === schedule.value) { timeField.value = text; return; }
    if (!text) { clearTime(); return; }
    var m = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2})$/.exec(text);
    var when = m && new Date(+m[1], m[2] - 1, +m[3], +m[4], +m[5]);
    if (!when || when.getFullYear() !== +m[1] || when.getMonth() !== m[2] - 1 || when.getDate() !== +m[3]
        || when.getHours() !== +m[4] || when.getMinutes() !== +m[5]) {
      clearTime();
      toast('时间格式不正确');
      return;
    }
    var ahead = when.getTime() - Date.now();
    if (ahead < 2 * 3600 * 1000 || ahead > 14 * 24 * 3600 * 1000) {
      clearTime();
      toast('定时发布时间需在2小时后至14天内');
      return;
    }
    schedule.value = text;
    timeField.value = text;
    timeField.dataset.value = text;
  }
  timeField.addEventListener('keydown', function (e) {
    if (!isEnter(e)) return;
    e.preventDefault();
    commitTime();
  });
  timeField.addEventListener('blur', commitTime);
  function scheduleMissing(draft) { return !draft && schedule.mode === 'timed' && !schedule.value; }

  // ---- publish / draft with a confirmation dialog ----
  var submitPending = false;
  function openSubmitDialog(draft) {
    if (submitPending || $('.submit-modal')) return;
    submitPending = true;
    setTimeout(function () {
      submitPending = false;
      var mask = make('div', 'modal-mask submit-modal',
        '<div class="modal modal--small"><div class="modal__title">' + (draft ? '保存草稿' : '发布作品') + '</div>' +
        '<div class="modal__body">' + (draft ? '确认将作品保存到草稿箱吗？' : '确认发布该作品吗？') + '</div>' +
        '<div class="modal__footer"><button type="button" class="m-button red">确定</button>' +
        '<button type="button" class="m-button-text">取消</button></div></div>');
      document.body.appendChild(mask);
      var ok = $('.m-button', mask), busy = false;
      $('.m-button-text', mask).addEventListener('click', function () { if (!busy) mask.remove(); });
      ok.addEventListener('click', async function () {
        if (busy) return;
        if (scheduleMissing(draft)) { mask.remove(); toast('请选择定时发布时间'); return; }
        busy = true;
        ok.textContent = '提交中';
        // Some studios close the dialog at once and land only when their
        // publish request has finished.
        if (cfg.lateLanding > 0) mask.remove();
        var r = await api('POST', '/api/publish', JSON.stringify({
          upload_id: state.uploadId, title: $('#title-input').value,
          original: state.original === true, watermark: !!(state.original && state.watermark),
          sync: state.sync, draft: draft, cover_id: state.coverId,
          tags: tags.slice(), category: chosenCategory.names.slice(), category_ids: chosenCategory.ids.slice(),
          scheduled_at: !draft && schedule.mode === 'timed' ? schedule.value.replace(' ', 'T') : ''
        }));
        if (r.status === 200 && r.data.location) {
          if (cfg.lateLanding > 0) await sleep(cfg.lateLanding);
          if (cfg.pushLanding) { mask.remove(); history.pushState(null, '', r.data.location); return; }
          location.href = r.data.location;
          return;
        }
        mask.remove();
        toast(r.data.error || '提交失败');
      });
    }, submitDelay);
  }
  $('#js-submit-0 > button').addEventListener('click', function () {
    if (scheduleMissing(false)) { toast('请选择定时发布时间'); return; }
    openSubmitDialog(false);
  });
  $('#js-submit-draft-0 > button').addEventListener('click', function () { openSubmitDialog(true); });
})();
)JS";

} // namespace studiosim
