#include "app/log.h"
#include "app/window.h"

namespace tv {

// The window arrives with the desktop host; until then window mode says so
// in the log and ends with the window-failure code.
int runWindowMode(void*, int) {
    logLine("Оконный режим в этой сборке ещё не реализован; доступен только --selftest");
    return 1;
}

} // namespace tv
