// Socket shim: the few socket and resolver calls the probe engine makes, with
// every failure reported as a Winsock error number (probe/errors.h).
//
// Contract for a backend (sock_posix.cpp; sock_win.cpp on Windows):
// - Functions that can fail return or fill an `int` error that is 0 on
//   success and a Winsock number otherwise; none of them throws or logs.
// - sockOpen creates IPv4 sockets only (stream/TCP or datagram/UDP).
// - sockSetIoTimeouts puts a connected socket in blocking mode and bounds every
//   later sockRecv/sockRecvFrom and sockSend by `timeoutMs`. A receive that
//   runs out of time fails with 10060 (kWsaTimedOut), never with 10035.
// - sockConnect starts a connection on a non-blocking socket: 0 when it is up
//   at once, 10035 while it is pending, any other number on failure.
// - sockWaitConnect waits for a pending connection: the result is > 0 when the
//   socket became writable or reported an exceptional condition (`failed`),
//   0 when the time ran out, < 0 when the wait itself failed.
// - sockWaitConnects waits for up to kMaxWaitSockets pending connections at
//   once: each `ready[i]` becomes 0 (still pending), 1 (writable) or 2
//   (exceptional condition); the result is the number of ready sockets, 0
//   when the time ran out, < 0 when the wait itself failed.
// - sockRecvFrom on a datagram socket reports an ICMP port-unreachable as
//   10054, as Winsock does.
// - Sends never raise signals (no SIGPIPE).
// - sysResolveIPv4 asks the system resolver for the first IPv4 address of a
//   name (stream socket hint): 0 with `addrBe` set, or a resolver error
//   (11001 no such name, 11004 no data, 11002 try again, others as they come).
// Addresses and ports cross this interface in network byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

#ifdef _WIN32
using SocketHandle = uintptr_t; // SOCKET
inline constexpr SocketHandle kInvalidSocket = ~static_cast<uintptr_t>(0);
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

enum class SockKind { Tcp, Udp };

SocketHandle sockOpen(SockKind kind, int& err);
void sockClose(SocketHandle s);
int sockSetNonBlocking(SocketHandle s, bool on);
int sockConnect(SocketHandle s, uint32_t addrBe, uint16_t portBe);
int sockWaitConnect(SocketHandle s, int32_t timeoutMs, bool& failed);
inline constexpr size_t kMaxWaitSockets = 64; // Winsock's default FD_SETSIZE
int sockWaitConnects(const SocketHandle* s, size_t n, int32_t timeoutMs, uint8_t* ready);
// The socket's pending error (SO_ERROR) as a Winsock number.
int sockPendingError(SocketHandle s);
int sockSetIoTimeouts(SocketHandle s, int32_t timeoutMs);
// Bytes sent (> 0), or 0 / -1 with `err` set (0 when nothing was reported).
long sockSend(SocketHandle s, const void* data, size_t len, int& err);
// Bytes received (> 0), 0 on an orderly close, -1 with `err` set.
long sockRecv(SocketHandle s, void* buf, size_t len, int& err);
long sockSendTo(SocketHandle s, const void* data, size_t len, uint32_t addrBe, uint16_t portBe,
                int& err);
long sockRecvFrom(SocketHandle s, void* buf, size_t len, int& err);
int sysResolveIPv4(const std::string& host, uint32_t& addrBe);

// --- shared helpers (sock.cpp) ---

// Owns one socket; closes it when it goes out of scope.
class Socket {
public:
    Socket() = default;
    explicit Socket(SocketHandle h) : h_(h) {}
    Socket(Socket&& o) noexcept : h_(o.release()) {}
    Socket& operator=(Socket&& o) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { close(); }

    SocketHandle get() const { return h_; }
    bool valid() const { return h_ != kInvalidSocket; }
    SocketHandle release();
    void close();

private:
    SocketHandle h_ = kInvalidSocket;
};

// Sends everything; stops at the first send that returns 0 or less. On
// failure `err` holds that send's error (0 when none was reported).
bool sendAll(SocketHandle s, std::string_view data, int& err);

// A millisecond time-out as whole seconds and microseconds (struct timeval).
struct TimeSplit {
    int32_t sec;
    int32_t usec;
};
TimeSplit splitTimeout(int32_t timeoutMs);

// Strict dotted-decimal IPv4: four decimal parts 0..255, no leading zeros,
// nothing else. The result is in network byte order.
bool parseIPv4(std::string_view text, uint32_t& addrBe);
std::string formatIPv4(uint32_t addrBe);
// Host and network byte order for 16 and 32 bits (no platform header needed).
uint16_t hostToNet16(uint16_t v);
uint32_t netToHost32(uint32_t v);

} // namespace tv
