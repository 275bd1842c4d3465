#include "tests/browser/browser_test_env.h"

#include <httplib.h>

namespace {

const char *const kMainPage = R"HTML(<!doctype html>
<html><head><meta charset="utf-8"><title>start</title></head><body style="height:3000px">
<p class="item">一</p><p class="item">two</p><p class="item">three</p>
<div style="height:2000px"></div>
<button class="b" onclick="note('b1:'+event.isTrusted)">B1</button>
<button class="b" onclick="note('b2:'+event.isTrusted)">B2</button>
<button class="b" onclick="note('b3:'+event.isTrusted)">B3</button>
<input id="name" value="old">
<input id="typed">
<input type="file" id="video"><input type="file" id="cover">
<button id="ask" onclick="note('confirm:'+confirm('sure?'))">ask</button>
<div id="log"></div>
<script>
function note(s){document.getElementById('log').textContent+=s+';'}
const name=document.getElementById('name');
name.addEventListener('input',()=>note('input:'+name.value));
name.addEventListener('change',()=>note('change:'+name.value));
for(const id of ['video','cover'])document.getElementById(id).addEventListener('change',e=>{
  const f=e.target.files[0];note(id+':'+f.name+':'+f.size);});
</script></body></html>)HTML";

// Elements a person could not click at once: covered for a while, hidden
// then shown, still moving, far below, inside a rotated box and wrapping,
// scrolled away in a box of their own, one covered for good, and a publish
// button that glows for ever in a box that pulses for ever, beside one that
// glides. Each click that lands writes the element's name and where it landed.
const char *const kActionablePage = R"HTML(<!doctype html>
<html><head><meta charset="utf-8"><title>actionable</title><style>
body{margin:0;height:4000px}
.mask{position:fixed;left:0;top:0;width:100%;height:100%;background:rgba(0,0,0,.3)}
@keyframes slide{from{transform:translateX(0)}to{transform:translateX(300px)}}
#scroller{height:80px;overflow:auto;width:200px}
@keyframes pulse{from{box-shadow:0 0 0 0 rgba(250,40,80,.6);background:#fee}to{box-shadow:0 0 0 14px rgba(250,40,80,0);background:#fcd}}
@keyframes glow{from{opacity:1}to{opacity:.6}}
@keyframes glide{from{left:0}to{left:240px}}
#pulse{position:absolute;left:20px;top:420px;width:420px;height:70px;animation:pulse 1s infinite}
#publish{animation:glow .8s infinite alternate}
#glider{position:absolute;left:0;top:35px}
</style></head><body>
<button id="covered">covered</button>
<button id="shown">shown</button>
<button id="moving">moving</button>
<div style="position:absolute;left:300px;top:200px;width:120px;transform:rotate(30deg)">
  <a id="wrapped" href="#" onclick="event.preventDefault()">a link that wraps over two lines</a></div>
<div id="scroller"><div style="height:400px"></div><button id="inner">inner</button></div>
<button id="blocked">blocked</button>
<div id="pulse"><button id="publish">publish</button><button id="glider">glider</button></div>
<div id="log"></div>
<div style="position:absolute;top:3500px"><button id="far">far</button></div>
<div id="mask1" class="mask"></div>
<script>
function note(s){document.getElementById('log').textContent+=s+';'}
// Each click says whether it was trusted, whether it landed on its element,
// and, if the element was still sliding when it came, that too.
const sliding=t=>t.getAnimations().some(a=>a.playState==='running'&&a.effect.getKeyframes().some(k=>k.transform||k.left));
for(const b of document.querySelectorAll('button,a'))b.addEventListener('click',e=>{
  const t=e.target.closest('button,a');
  note(t.id+':'+e.isTrusted+':'+(document.elementFromPoint(e.clientX,e.clientY)===e.target)+(sliding(t)?':sliding':''));});
document.getElementById('mask1').addEventListener('click',()=>note('mask1'));
setTimeout(()=>document.getElementById('mask1').remove(),500);
function hideFor(id,ms){const e=document.getElementById(id);e.style.visibility='hidden';setTimeout(()=>e.style.visibility='visible',ms);return 1;}
function startMoving(){document.getElementById('moving').style.animation='slide .6s linear 1 forwards';return 1;}
function startGliding(){document.getElementById('glider').style.animation='glide .6s linear 1 forwards';return 1;}
function coverForGood(){const m=document.createElement('div');m.className='mask';m.id='mask2';
  m.addEventListener('click',()=>note('mask2'));document.body.appendChild(m);}
</script></body></html>)HTML";

const char *const kSecondPage = R"HTML(<!doctype html><html><head><meta charset="utf-8"><title>second</title></head>
<body><span class="user-info__username">测试用户</span></body></html>)HTML";

} // namespace

TestPageServer::TestPageServer() : m_server(std::make_unique<httplib::Server>())
{
    m_server->Get("/main", [](const httplib::Request &, httplib::Response &res) { res.set_content(kMainPage, "text/html; charset=utf-8"); });
    m_server->Get("/actionable", [](const httplib::Request &, httplib::Response &res) { res.set_content(kActionablePage, "text/html; charset=utf-8"); });
    m_server->Get("/second", [](const httplib::Request &, httplib::Response &res) { res.set_content(kSecondPage, "text/html; charset=utf-8"); });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
}

TestPageServer::~TestPageServer()
{
    m_server->stop();
    m_thread.join();
}

QString TestPageServer::url(const char *path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1String(path));
}

BrowserStartOptions headlessOptions(const QTemporaryDir &dir, const char *name)
{
    BrowserStartOptions options;
    options.profileDirectory = dir.filePath(QLatin1String(name));
    options.windowSize = QStringLiteral("800,600");
    options.headless = true;
    options.extraArgs = {QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                         QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                         QStringLiteral("--disable-sync"), QStringLiteral("--no-sandbox")};
    return options;
}
