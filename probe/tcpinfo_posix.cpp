// TCP progress on Linux: getsockopt(TCP_INFO). glibc's <netinet/tcp.h> (2.36)
// stops its struct tcp_info before the byte counters, so the kernel's own
// header is used instead; it must not meet <netinet/tcp.h> in this file.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

#include "probe/tcpinfo.h"

namespace tv {
namespace {

// The kernel copies min(its size, ours) and reports the length; an older
// kernel's shorter struct ends before a field it does not have.
bool readInfo(SocketHandle s, tcp_info& info, socklen_t& len) {
    info = tcp_info{};
    len = sizeof info;
    return ::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &len) == 0;
}

} // namespace

bool tcpBytesAcked(SocketHandle s, uint64_t& acked) {
    tcp_info info;
    socklen_t len;
    if (!readInfo(s, info, len) ||
        len < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
        return false;
    acked = info.tcpi_bytes_acked;
    return true;
}

bool tcpBytesReceived(SocketHandle s, uint64_t& received) {
    tcp_info info;
    socklen_t len;
    if (!readInfo(s, info, len) ||
        len < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return false;
    received = info.tcpi_bytes_received;
    return true;
}

} // namespace tv
