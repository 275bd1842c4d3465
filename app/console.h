#pragma once

namespace console {
// The Windows program is a window program: started from a console, it has
// none of its own. This joins the console it was started from when it has
// something to print there and nowhere else to print it, and always for a
// headless run, so that Ctrl+C and Ctrl+Break in that console end it.
// Streams already redirected (a pipe, a file) are kept as they are.
void attachToParentConsole(bool headless);
} // namespace console
