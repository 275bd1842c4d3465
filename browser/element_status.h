#pragma once

// Why an element operation did not do its work. The operations keep their
// plain results (an empty text, 0 or false); a caller that needs to know why
// passes a place for this beside them.
enum class ElementStatus {
    Ok,
    NoMatch,       // the selector matched nothing (or fewer elements than the index asks for)
    NotActionable, // matched, but never visible, stable, enabled or on top in time
    PageClosed,    // the page or its browser is gone (or was never known)
    TimedOut,      // the browser did not answer the call in time
    TargetCrashed, // the page's renderer crashed
    Failed,        // anything else the browser refused (a selector it cannot parse ...)
};

// "no match", "not actionable" ... for logs and evidence.
const char *elementStatusText(ElementStatus status);
