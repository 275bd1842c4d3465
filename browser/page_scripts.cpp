#include "browser/page_scripts.h"

#include "browser/cdp_connection.h"

namespace pagescripts {

namespace {

std::string find(std::string_view selector, int offset)
{
    const std::string quoted = CdpConnection::quote(selector);
    if (offset == 0)
        return "document.querySelector(" + quoted + ")";
    return "document.querySelectorAll(" + quoted + ")[" + std::to_string(offset) + "]";
}

std::string withElement(std::string_view selector, int offset, std::string_view missing, std::string_view body)
{
    std::string out = "(()=>{const e=";
    out += find(selector, offset);
    out += ";if(!e)return ";
    out += missing;
    out += ';';
    out += body;
    out += "})()";
    return out;
}

} // namespace

int matchOffset(int index)
{
    if (index < 0)
        return -1;
    return index <= 1 ? 0 : index - 1;
}

std::string exists(std::string_view selector)
{
    return find(selector, 0) + "!==null";
}

std::string text(std::string_view selector, int offset)
{
    return withElement(selector, offset, "null",
                       "const t=e.tagName;"
                       "if(t==='INPUT'||t==='TEXTAREA'||t==='SELECT')return e.value;"
                       "return typeof e.innerText==='string'?e.innerText:e.textContent;");
}

// The click point is the centre of the element's first box (the first line
// of a wrapped link; for a rotated box its centre is the centre of the
// bounding rectangle too).
std::string actionablePoint(std::string_view selector, int offset)
{
    std::string out = "(async()=>{const e=";
    out += find(selector, offset);
    out += ";if(!e)return{s:'no such element'};"
           "if(!e.isConnected)return{s:'detached'};"
           "const box=()=>{const r=e.getClientRects();if(!r.length)return null;const b=r[0];"
           "return(b.width>0&&b.height>0)?[b.left,b.top,b.width,b.height]:null;};"
           "if(getComputedStyle(e).visibility==='hidden')return{s:'hidden'};"
           "if(!box())return{s:'no box'};"
           "if(e.scrollIntoViewIfNeeded)e.scrollIntoViewIfNeeded(true);else e.scrollIntoView({block:'center',inline:'center',behavior:'instant'});"
           // The next frame (its time), or a timer tick (0) when none comes:
           // a page that is not in view (a tab behind another, a minimised
           // window) gets no frames at all, and the click must not wait for one.
           "const tick=()=>new Promise(r=>{let t=0;requestAnimationFrame(f=>{clearTimeout(t);r(f);});t=setTimeout(()=>r(0),100);});"
           // Stable is the element's own box, the same across a frame. With an
           // animation running on it, a box around it or inside it, the frame
           // must have begun after the first box was taken: one already under
           // way shows what that box showed, and a slide would pass for still.
           // Without one, the next frame will do (it comes at once). A running
           // animation that leaves the box where it is (a glow, a pulse) does
           // not matter; one just starting does: it holds its first keyframe
           // until a frame gives it a start time, so it shows the same box
           // twice before it moves. Whether it was starting is read before
           // the wait: the frame that gives it its start time may come
           // before the second box is taken (a busy machine skips frames),
           // and the animation, no longer pending, still shows its first
           // keyframe. A hidden page gets no frames and its animations go by
           // the clock: a tick will do there.
           "const near=n=>{const t=n.effect&&n.effect.target;return n.playState==='running'&&!!t&&(t.contains(e)||e.contains(t));};"
           "const animated=()=>document.hidden?[]:document.getAnimations().filter(near);"
           "const before=animated(),starting=before.some(n=>n.pending),a=box(),since=performance.now();"
           "for(let i=0;i<10;++i){const f=await tick();if(f?f>since||!before.length:document.hidden)break;}"
           "const b=box();"
           "if(!a||!b)return{s:'no box'};"
           "if(starting||a.some((x,i)=>Math.abs(x-b[i])>0.5)||animated().some(n=>n.pending))return{s:'moving'};"
           "const x=b[0]+b[2]/2,y=b[1]+b[3]/2;"
           "const h=document.elementFromPoint(x,y);"
           "if(!h||!(h===e||e.contains(h))){let n='';if(h){n=h.tagName.toLowerCase();if(h.id)n+='#'+h.id;"
           "if(typeof h.className==='string'&&h.className)n+='.'+h.className.trim().split(/\\s+/).join('.');}"
           "return{s:'covered by '+(n||'nothing')};}"
           "return{s:'ok',x:x,y:y};})()";
    return out;
}

std::string editableState(std::string_view selector, int offset)
{
    return withElement(selector, offset, "'no such element'",
                       "if(!e.isConnected)return 'detached';"
                       "const r=e.getClientRects();"
                       "if(!r.length||!(r[0].width>0&&r[0].height>0)||getComputedStyle(e).visibility==='hidden')return 'not visible';"
                       "if(e.disabled||e.closest('fieldset[disabled]'))return 'disabled';"
                       "return 'ok';");
}

// Through the prototype's setter so that frameworks tracking the value see it.
std::string setValue(std::string_view selector, int offset, std::string_view value)
{
    return withElement(selector, offset, "false",
                       "const v=" + CdpConnection::quote(value) + ";"
                       "let p=Object.getPrototypeOf(e),d=null;"
                       "while(p&&!(d=Object.getOwnPropertyDescriptor(p,'value')))p=Object.getPrototypeOf(p);"
                       "if(d&&d.set)d.set.call(e,v);else e.value=v;"
                       "e.dispatchEvent(new Event('input',{bubbles:true}));"
                       "e.dispatchEvent(new Event('change',{bubbles:true}));"
                       "return true;");
}

// Focus with the caret at the end, so inserted text goes after what is there.
std::string focusForInput(std::string_view selector, int offset)
{
    return withElement(selector, offset, "false",
                       "e.scrollIntoView({block:'center',behavior:'instant'});e.focus();"
                       "try{const n=e.value.length;e.setSelectionRange(n,n);}catch(x){}"
                       "const a=document.activeElement;return a===e||e.contains(a);");
}

std::string element(std::string_view selector, int offset)
{
    return find(selector, offset);
}

std::string setTitle(std::string_view title)
{
    return "document.title=" + CdpConnection::quote(title) + ",true";
}

std::string html()
{
    return "document.documentElement?document.documentElement.outerHTML:''";
}

} // namespace pagescripts
