#pragma once

#include <string>
#include <string_view>

// JavaScript run in the page for the element operations. Selectors and texts
// are embedded as JSON string literals, so page input cannot break out.
namespace pagescripts {

// Offset into the matches for an element index: 0 and 1 both the first match,
// n >= 1 the n-th; -1 for a negative index.
int matchOffset(int index);

std::string exists(std::string_view selector);
std::string text(std::string_view selector, int offset);
// One poll of the wait before a click (a promise; awaited by the caller):
// {s:"ok",x,y} with the click point in the viewport once the element is
// attached, has a box, is not visibility:hidden, is scrolled into view (in
// every scrolling box), keeps the same box from one animation frame to the
// next (or over a 100 ms tick in a hidden page, which gets no frames) with no
// animation just starting on it or a box around it, and is the element hit at
// the point; otherwise {s:why}.
std::string actionablePoint(std::string_view selector, int offset);
// One poll of the wait before typing or setting a value: "ok" once the
// element is attached, visible and enabled; else why not.
std::string editableState(std::string_view selector, int offset);
std::string setValue(std::string_view selector, int offset, std::string_view value);
std::string focusForInput(std::string_view selector, int offset);
std::string element(std::string_view selector, int offset);
std::string setTitle(std::string_view title);
std::string html();

} // namespace pagescripts
