// How far a TCP connection has got, as the operating system counts it: bytes
// the peer acknowledged and bytes received. An upload is timed by what was
// acknowledged, not by what the send buffer accepted.
//
// Contract (tcpinfo_posix.cpp, tcpinfo_win.cpp):
// - True with the counter when the system could tell; false when it cannot
//   (an old system, a socket that is not TCP, Wine), and the caller then says
//   "unknown" rather than guess. The output is untouched on false.
// - The counters run from the start of the connection and may include one
//   unit for our SYN and one for our FIN (Linux counts the acknowledged SYN
//   of an active open). Callers take a reading right after connect and use
//   the difference.
// - Cheap: one system call, no allocation; safe on any thread.
//
// Sources: Linux TCP_INFO (linux/tcp.h, tcpi_bytes_acked and
// tcpi_bytes_received, kernel 4.1 and later); Windows SIO_TCP_INFO with
// version 0 (TCP_INFO_v0, Windows 10 1703 and later): acknowledged is
// BytesOut - BytesInFlight, received is BytesIn.
#pragma once

#include <cstdint>

#include "probe/sock.h"

namespace tv {

bool tcpBytesAcked(SocketHandle s, uint64_t& acked);
bool tcpBytesReceived(SocketHandle s, uint64_t& received);

} // namespace tv
