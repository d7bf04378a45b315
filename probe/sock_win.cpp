// The socket shim on Windows: Winsock 2 as it is. Error numbers are already
// the Winsock ones, so nothing is translated; the process entry has called
// WSAStartup before the first probe.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "base/winstr.h"
#include "probe/addrinfo_pick.h"
#include "probe/errors.h"
#include "probe/sock.h"

namespace tv {
namespace {

SOCKET sk(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

sockaddr_in makeAddr(uint32_t addrBe, uint16_t portBe) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = portBe;
    sa.sin_addr.s_addr = addrBe;
    return sa;
}

// Winsock lengths are int; our callers never pass more than a receive buffer,
// but a larger length must not wrap into a negative one.
int clampLen(size_t len) {
    return len > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(len);
}

} // namespace

SocketHandle sockOpen(SockKind kind, int& err) {
    const SOCKET s = kind == SockKind::Tcp ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)
                                           : ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    err = s == INVALID_SOCKET ? WSAGetLastError() : 0;
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

void sockClose(SocketHandle s) {
    ::closesocket(sk(s));
}

int sockSetNonBlocking(SocketHandle s, bool on) {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(sk(s), FIONBIO, &mode) == 0 ? 0 : WSAGetLastError();
}

int sockConnect(SocketHandle s, uint32_t addrBe, uint16_t portBe) {
    const sockaddr_in sa = makeAddr(addrBe, portBe);
    if (::connect(sk(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0)
        return 0;
    return WSAGetLastError();
}

int sockWaitConnect(SocketHandle s, int32_t timeoutMs, bool& failed) {
    // A write set and an exception set holding only this socket, no read set.
    fd_set writeSet;
    fd_set exceptSet;
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    FD_SET(sk(s), &writeSet);
    FD_SET(sk(s), &exceptSet);
    const TimeSplit t = splitTimeout(timeoutMs);
    timeval tv{};
    tv.tv_sec = t.sec;
    tv.tv_usec = t.usec;
    const int rc = ::select(0, nullptr, &writeSet, &exceptSet, &tv);
    failed = rc > 0 && FD_ISSET(sk(s), &exceptSet);
    return rc;
}

int sockWaitConnects(const SocketHandle* s, size_t n, int32_t timeoutMs, uint8_t* ready) {
    // select, not WSAPoll: older WSAPoll never reports a refused connect.
    // FD_SETSIZE is Winsock's 64, the same as kMaxWaitSockets.
    fd_set writeSet;
    fd_set exceptSet;
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (n > kMaxWaitSockets)
        n = kMaxWaitSockets;
    for (size_t i = 0; i < n; ++i) {
        FD_SET(sk(s[i]), &writeSet);
        FD_SET(sk(s[i]), &exceptSet);
        ready[i] = 0;
    }
    const TimeSplit t = splitTimeout(timeoutMs);
    timeval tv{};
    tv.tv_sec = t.sec;
    tv.tv_usec = t.usec;
    const int rc = ::select(0, nullptr, &writeSet, &exceptSet, &tv);
    if (rc <= 0)
        return rc;
    int count = 0;
    for (size_t i = 0; i < n; ++i) {
        if (FD_ISSET(sk(s[i]), &exceptSet))
            ready[i] = 2;
        else if (FD_ISSET(sk(s[i]), &writeSet))
            ready[i] = 1;
        count += ready[i] != 0 ? 1 : 0;
    }
    return count;
}

int sockPendingError(SocketHandle s) {
    int e = 0;
    int len = sizeof e;
    if (::getsockopt(sk(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&e), &len) != 0)
        return WSAGetLastError();
    return e;
}

int sockSetIoTimeouts(SocketHandle s, int32_t timeoutMs) {
    if (int e = sockSetNonBlocking(s, false))
        return e;
    // Winsock takes these as a 32-bit count of milliseconds.
    const DWORD ms = timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs);
    if (::setsockopt(sk(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                     sizeof ms) != 0 ||
        ::setsockopt(sk(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                     sizeof ms) != 0)
        return WSAGetLastError();
    return 0;
}

long sockSend(SocketHandle s, const void* data, size_t len, int& err) {
    const int n = ::send(sk(s), static_cast<const char*>(data), clampLen(len), 0);
    err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n;
}

long sockRecv(SocketHandle s, void* buf, size_t len, int& err) {
    const int n = ::recv(sk(s), static_cast<char*>(buf), clampLen(len), 0);
    err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n;
}

long sockSendTo(SocketHandle s, const void* data, size_t len, uint32_t addrBe, uint16_t portBe,
                int& err) {
    const sockaddr_in sa = makeAddr(addrBe, portBe);
    const int n = ::sendto(sk(s), static_cast<const char*>(data), clampLen(len), 0,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n;
}

long sockRecvFrom(SocketHandle s, void* buf, size_t len, int& err) {
    sockaddr_in from{};
    int fromLen = sizeof from;
    const int n = ::recvfrom(sk(s), static_cast<char*>(buf), clampLen(len), 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLen);
    err = n == SOCKET_ERROR ? WSAGetLastError() : 0;
    return n;
}

int sysResolveIPv4(const std::string& host, uint32_t& addrBe) {
    if (host.find('\0') != std::string::npos)
        return kWsaInvalid; // not a name the resolver could be asked about
    const std::wstring node = toWide(host);
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* list = nullptr;
    const int rc = ::GetAddrInfoW(node.c_str(), nullptr, &hints, &list);
    int err = rc;
    if (rc == 0)
        err = firstIPv4(list, addrBe);
    if (list)
        ::FreeAddrInfoW(list);
    return err;
}

} // namespace tv
