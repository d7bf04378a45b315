// Window mode: the main window, the web view host and the message loop.
// Implemented per platform (app/gtk, app/win).
#pragma once

#include "app/host.h"

namespace tv {

// Returns 1 when the main window cannot be created; otherwise ends the process
// with exit code 0 once the window is gone and does not return.
int runWindowMode(void* instance, int showCommand, const WindowOptions& options);

} // namespace tv
