#include "app/console.h"

namespace console {

void attachToParentConsole(bool)
{
    // A terminal program already has its terminal.
}

} // namespace console
