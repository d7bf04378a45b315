// TCP progress on Windows: WSAIoctl(SIO_TCP_INFO) with version 0.
// mingw-w64 10 declares neither the control code nor the structure, so both
// are spelled out here from Microsoft's documentation of mstcpip.h
// ("SIO_TCP_INFO control code", "TCP_INFO_v0 structure"). Windows before 10
// 1703 rejects the code; Wine 8 fails it with WSAEOPNOTSUPP (10045) (versions
// 0 and 1 alike); both read as "cannot tell". iphlpapi's per-connection statistics
// are no fallback: under Wine 8 SetPerTcpConnectionEStats answers
// ERROR_NOT_SUPPORTED and GetPerTcpConnectionEStats is a stub that ends the
// process.
#include <winsock2.h>

#include <cstddef>

#include "probe/tcpinfo.h"

namespace tv {
namespace {

// _WSAIORW(IOC_VENDOR, 39) = IOC_INOUT | IOC_VENDOR | 39.
constexpr DWORD kSioTcpInfo = 0xD8000027;
static_assert(kSioTcpInfo == (IOC_IN | IOC_OUT | IOC_VENDOR | 39));

// TCP_INFO_v0 with its natural x64 layout; TCPSTATE is an int-sized enum.
struct TcpInfoV0 {
    int State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};
static_assert(offsetof(TcpInfoV0, BytesInFlight) == 28);
static_assert(offsetof(TcpInfoV0, BytesOut) == 48);
static_assert(offsetof(TcpInfoV0, BytesIn) == 56);
static_assert(sizeof(TcpInfoV0) == 88);

bool readInfo(SocketHandle s, TcpInfoV0& info) {
    DWORD version = 0;
    DWORD returned = 0;
    info = TcpInfoV0{};
    if (::WSAIoctl(static_cast<SOCKET>(s), kSioTcpInfo, &version, sizeof version, &info,
                   sizeof info, &returned, nullptr, nullptr) != 0)
        return false;
    // A short answer would leave the counters at their zero fill.
    return returned >= offsetof(TcpInfoV0, BytesIn) + sizeof info.BytesIn;
}

} // namespace

bool tcpBytesAcked(SocketHandle s, uint64_t& acked) {
    TcpInfoV0 info;
    if (!readInfo(s, info) || info.BytesInFlight > info.BytesOut)
        return false;
    acked = info.BytesOut - info.BytesInFlight;
    return true;
}

bool tcpBytesReceived(SocketHandle s, uint64_t& received) {
    TcpInfoV0 info;
    if (!readInfo(s, info))
        return false;
    received = info.BytesIn;
    return true;
}

} // namespace tv
