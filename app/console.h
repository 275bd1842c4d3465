#pragma once

namespace console {
// The Windows program is a window program: started from a console, it has
// none of its own. This joins the console it was started from, so that
// --version, --help, the headless lines and Ctrl+C reach the user there.
// Streams already redirected (a pipe, a file) are kept as they are.
void attachToParentConsole();
} // namespace console
