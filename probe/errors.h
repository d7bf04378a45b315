// One error vocabulary on every platform. Socket and resolver failures are
// carried as Winsock error numbers everywhere, so "WSA %d" details read the
// same in reports from Windows and Linux. The POSIX translation of errno and
// getaddrinfo codes into these numbers lives in errors_posix.cpp (and nowhere
// else); Windows needs none. The classification of a number into a state word
// is shared and lives in errors.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "probe/stage.h"

namespace tv {

// Winsock error numbers used by the classification and the tests.
inline constexpr int kWsaInterrupted = 10004;
inline constexpr int kWsaAccess = 10013;
inline constexpr int kWsaInvalid = 10022;
inline constexpr int kWsaTooManyFiles = 10024;
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaAddrNotAvail = 10049;
inline constexpr int kWsaNetDown = 10050;
inline constexpr int kWsaNetUnreach = 10051;
inline constexpr int kWsaConnAborted = 10053;
inline constexpr int kWsaConnReset = 10054;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnRefused = 10061;
inline constexpr int kWsaHostUnreach = 10065;
// Resolver errors (GetAddrInfoW's numbers).
inline constexpr int kWsaHostNotFound = 11001; // no such name
inline constexpr int kWsaTryAgain = 11002;     // temporary failure
inline constexpr int kWsaNoRecovery = 11003;   // server failure
inline constexpr int kWsaNoData = 11004;       // name exists, no address of the kind
inline constexpr int kWsaNotEnoughMemory = 8;

// "WSA %d".
std::string socketErrorText(int err);
// "0x%08X": a TLS library status.
std::string tlsStatusText(uint32_t status);

// The TCP state of a connection attempt that failed at once (never Timeout).
State tcpStateImmediate(int err);
// The TCP state of a pending error read after the wait; 0 counts as Fail.
State tcpStateAfterWait(int err);
// The DNS state of a failed system lookup.
State dnsStateFromResolveError(int err);

#ifndef _WIN32
// POSIX only (errors_posix.cpp): errno to its Winsock number. Unknown values
// are passed through unchanged (they are below 10000, so they cannot be
// mistaken for a Winsock number).
int wsaFromErrno(int e);
// getaddrinfo's return code to its GetAddrInfoW number; EAI_SYSTEM goes
// through `savedErrno`.
int wsaFromGai(int rc, int savedErrno);
#endif

} // namespace tv
