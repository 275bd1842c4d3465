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

// Centre of the element after scrolling it into the middle of the view; null
// when it has no box to click.
std::string clickPoint(std::string_view selector, int offset)
{
    return withElement(selector, offset, "null",
                       "e.scrollIntoView({block:'center',inline:'center',behavior:'instant'});"
                       "const r=e.getBoundingClientRect();"
                       "if(!(r.width>0&&r.height>0))return null;"
                       "return [r.left+r.width/2,r.top+r.height/2];");
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
