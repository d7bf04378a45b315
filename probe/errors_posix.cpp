// The only place where POSIX error codes become Winsock numbers.
#include "probe/errors.h"

#include <cerrno>
#include <netdb.h>

namespace tv {

int wsaFromErrno(int e) {
    switch (e) {
    case 0:
        return 0;
    case EINTR:
        return kWsaInterrupted;
    case EBADF:
        return 10009;
    case EACCES:
        return kWsaAccess;
    case EPERM:
        return kWsaAccess; // a local firewall refusing the packet
    case EFAULT:
        return 10014;
    case EINVAL:
        return kWsaInvalid;
    case EMFILE:
        return kWsaTooManyFiles;
    case ENFILE:
        return kWsaTooManyFiles;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
        return kWsaWouldBlock;
#endif
    case EAGAIN:
        return kWsaWouldBlock;
    // A pending non-blocking connect: Winsock reports it as "would block".
    case EINPROGRESS:
        return kWsaWouldBlock;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return kWsaAddrNotAvail;
    case ENETDOWN:
        return kWsaNetDown;
    case ENETUNREACH:
        return kWsaNetUnreach;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return kWsaConnAborted;
    case ECONNRESET:
        return kWsaConnReset;
    // Writing to a connection the peer has reset: Winsock says "reset".
    case EPIPE:
        return kWsaConnReset;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return kWsaTimedOut;
    case ECONNREFUSED:
        return kWsaConnRefused;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return kWsaHostUnreach;
    case ENOMEM:
        return kWsaNotEnoughMemory;
    default:
        return e;
    }
}

int wsaFromGai(int rc, int savedErrno) {
    switch (rc) {
    case 0:
        return 0;
    case EAI_NONAME:
        return kWsaHostNotFound;
    case EAI_NODATA:
        return kWsaNoData;
    case EAI_AGAIN:
        return kWsaTryAgain;
    case EAI_FAIL:
        return kWsaNoRecovery;
    case EAI_MEMORY:
        return kWsaNotEnoughMemory;
    case EAI_FAMILY:
        return 10047;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_SERVICE:
        return 10109;
    case EAI_BADFLAGS:
        return kWsaInvalid;
    case EAI_SYSTEM: {
        const int w = wsaFromErrno(savedErrno);
        return w == 0 ? kWsaNoRecovery : w;
    }
    default:
        return kWsaNoRecovery;
    }
}

} // namespace tv
