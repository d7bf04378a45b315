// The socket shim on POSIX: BSD sockets and poll(), errors translated to
// Winsock numbers by errors_posix.cpp.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "probe/addrinfo_pick.h"
#include "probe/errors.h"
#include "probe/sock.h"

namespace tv {
namespace {

int lastError() {
    return wsaFromErrno(errno);
}

sockaddr_in makeAddr(uint32_t addrBe, uint16_t portBe) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = portBe;
    sa.sin_addr.s_addr = addrBe;
    return sa;
}

// A receive on a blocking socket with SO_RCVTIMEO ends with EAGAIN when the
// time runs out; Winsock calls that 10060.
int recvError(int e) {
    if (e == EAGAIN || e == EWOULDBLOCK)
        return kWsaTimedOut;
    return wsaFromErrno(e);
}

} // namespace

SocketHandle sockOpen(SockKind kind, int& err) {
    const int fd = kind == SockKind::Tcp
                       ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)
                       : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    err = fd < 0 ? lastError() : 0;
    return fd < 0 ? kInvalidSocket : fd;
}

void sockClose(SocketHandle s) {
    ::close(s);
}

int sockSetNonBlocking(SocketHandle s, bool on) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return lastError();
    const int want = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (want != flags && ::fcntl(s, F_SETFL, want) < 0)
        return lastError();
    return 0;
}

int sockConnect(SocketHandle s, uint32_t addrBe, uint16_t portBe) {
    const sockaddr_in sa = makeAddr(addrBe, portBe);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0)
        return 0;
    return lastError();
}

int sockWaitConnect(SocketHandle s, int32_t timeoutMs, bool& failed) {
    pollfd p{};
    p.fd = s;
    p.events = POLLOUT;
    failed = false;
    const int limit = timeoutMs < 0 ? 0 : timeoutMs;
    const auto start = std::chrono::steady_clock::now();
    int rc;
    // A signal interrupts poll; go on waiting for the time that is left.
    for (int left = limit;;) {
        rc = ::poll(&p, 1, left);
        if (rc >= 0 || errno != EINTR)
            break;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
        left = spent >= limit ? 0 : static_cast<int>(limit - spent);
    }
    if (rc > 0)
        failed = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    return rc;
}

int sockWaitConnects(const SocketHandle* s, size_t n, int32_t timeoutMs, uint8_t* ready) {
    pollfd p[kMaxWaitSockets]{};
    if (n > kMaxWaitSockets)
        n = kMaxWaitSockets;
    for (size_t i = 0; i < n; ++i) {
        p[i].fd = s[i];
        p[i].events = POLLOUT;
        ready[i] = 0;
    }
    const int rc = ::poll(p, static_cast<nfds_t>(n), timeoutMs < 0 ? 0 : timeoutMs);
    if (rc < 0)
        return errno == EINTR ? 0 : rc; // the caller waits again for what is left
    for (size_t i = 0; i < n; ++i)
        if (p[i].revents != 0)
            ready[i] = (p[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? 2 : 1;
    return rc;
}

int sockPendingError(SocketHandle s) {
    int e = 0;
    socklen_t len = sizeof e;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &e, &len) < 0)
        return lastError();
    return wsaFromErrno(e);
}

int sockSetIoTimeouts(SocketHandle s, int32_t timeoutMs) {
    if (int e = sockSetNonBlocking(s, false))
        return e;
    const TimeSplit t = splitTimeout(timeoutMs);
    timeval tv{};
    tv.tv_sec = t.sec;
    tv.tv_usec = t.usec;
    if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) < 0 ||
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) < 0)
        return lastError();
    return 0;
}

long sockSend(SocketHandle s, const void* data, size_t len, int& err) {
    ssize_t n;
    do {
        n = ::send(s, data, len, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? recvError(errno) : 0;
    return static_cast<long>(n);
}

long sockRecv(SocketHandle s, void* buf, size_t len, int& err) {
    ssize_t n;
    do {
        n = ::recv(s, buf, len, 0);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? recvError(errno) : 0;
    return static_cast<long>(n);
}

long sockSendTo(SocketHandle s, const void* data, size_t len, uint32_t addrBe, uint16_t portBe,
                int& err) {
    const sockaddr_in sa = makeAddr(addrBe, portBe);
    ssize_t n;
    do {
        n = ::sendto(s, data, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (n < 0 && errno == EINTR);
    err = n < 0 ? lastError() : 0;
    return static_cast<long>(n);
}

long sockRecvFrom(SocketHandle s, void* buf, size_t len, int& err) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n;
    do {
        n = ::recvfrom(s, buf, len, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        err = errno == ECONNREFUSED ? kWsaConnReset : recvError(errno);
    else
        err = 0;
    return static_cast<long>(n);
}

int sysResolveIPv4(const std::string& host, uint32_t& addrBe) {
    if (host.find('\0') != std::string::npos)
        return kWsaInvalid; // not a name the resolver could be asked about
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    const int saved = errno;
    int err = wsaFromGai(rc, saved);
    if (rc == 0)
        err = firstIPv4(list, addrBe);
    if (list)
        ::freeaddrinfo(list);
    return err;
}

} // namespace tv
