#include "base/runtime.h"

#include <csignal>

namespace tv {

void initPlatformRuntimes() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace tv
