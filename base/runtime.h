// Process-wide platform runtimes, started once by each program entry before
// anything else touches them.
#pragma once

namespace tv {

// COM (single-threaded apartment) and Winsock 2.2 on Windows; on Linux,
// SIGPIPE is ignored so a peer's close is a send error.
void initPlatformRuntimes();

} // namespace tv
