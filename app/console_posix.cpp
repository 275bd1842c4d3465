#include "app/console.h"

namespace console {

void attachToParentConsole()
{
    // A terminal program already has its terminal.
}

} // namespace console
