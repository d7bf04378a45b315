// TLS backend interface: the only calls the probe engine makes into a TLS
// library. One implementation per platform: tls_openssl.cpp (OpenSSL 3, memory
// BIOs) and tls_schannel.cpp (SSPI). Everything around them, the socket I/O,
// the receive loop, the classification into state words and detail texts,
// the HTTP request, lives in shared code (tls.cpp, http.cpp).
//
// Contract for a backend:
// - It never touches a socket. The shared code receives bytes and hands them
//   in through `in`; the backend hands back bytes to send through `out`.
// - `in` is consumed from its front: on return it holds only bytes the
//   backend has not taken. A backend may take every byte and buffer it
//   internally (OpenSSL's read BIO) or leave an incomplete record in `in`
//   (Schannel's incomplete message / extra buffer); the caller keeps `in` and
//   appends the next receive to it either way.
// - `status` receives the library's own code on every error result: an
//   SSPI SECURITY_STATUS, or OpenSSL's packed ERR_peek_last_error() value
//   (0x0A000458 for a received unrecognized_name alert). It is shown as
//   "0x%08X".
// - The handshake accepts any server certificate; validity is judged later
//   by tlsBackendPeerCert.
// - Nothing is shared between sessions except library-wide, thread-safe
//   state (one client context/credentials may be reused). All calls on one
//   session come from one thread. Never throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "probe/stage.h"

namespace tv {

struct TlsBackend; // the library's per-session state, defined by the backend
void tlsBackendFree(TlsBackend* b);
struct TlsBackendDeleter {
    void operator()(TlsBackend* b) const { tlsBackendFree(b); }
};
using TlsBackendPtr = std::unique_ptr<TlsBackend, TlsBackendDeleter>;

enum class TlsStep {
    Continue,   // send `out`; call tlsBackendStep again, with more input when `in` is empty
    NeedMore,   // send `out` (if any); a complete message needs more bytes: receive
    Done,       // handshake complete; `out` may hold a last flight to send
    ClientCert, // the server asked for a client certificate (we have none)
    Rejected,   // the handshake failed (a TLS alert, or messages we cannot process)
    SetupFailed // credentials or the context could not be made (first call only)
};

// Creates the session and its first flight (the ClientHello) in `out`.
// `sni` empty: no server name is sent. Returns Continue or SetupFailed.
TlsStep tlsBackendStart(TlsBackendPtr& session, const std::string& sni, std::string& out,
                        uint32_t& status);

// Feeds handshake bytes. Returns Continue, NeedMore, Done, ClientCert or Rejected.
// After Done, bytes beyond the last handshake message are either left in `in`
// or kept by the backend; tlsBackendDecrypt yields them before anything newer.
TlsStep tlsBackendStep(TlsBackend& b, std::string& in, std::string& out, uint32_t& status);

enum class TlsRead {
    Record,   // one record was decrypted (its data appended to `plain`, maybe none)
    NeedMore, // no complete record is buffered: receive more
    Closed,   // the peer ended the TLS session (close_notify)
    Error     // any other failure (`status`)
};

// Decrypts the next buffered record of application data.
TlsRead tlsBackendDecrypt(TlsBackend& b, std::string& in, std::string& plain, uint32_t& status);

enum class TlsWrite {
    Ok,
    NoStreamSizes, // the record sizes could not be read (Schannel only)
    Error          // `status`
};

// Encrypts `plain` into records appended to `out`.
TlsWrite tlsBackendEncrypt(TlsBackend& b, std::string_view plain, std::string& out,
                           uint32_t& status);

// The portable reason behind one of this backend's status codes.
TlsReason tlsBackendReason(uint32_t status);

// The server's end-entity certificate after a completed handshake.
struct TlsPeerCert {
    bool present = false; // false: no certificate could be read
    std::string name;     // raw display name (CN, else O, else the first DNS name)
    bool ok = false;      // chain to a system-trusted root, valid now, TLS-server use,
                          // and names `sni` when `sni` is not empty; no revocation check
};
TlsPeerCert tlsBackendPeerCert(TlsBackend& b, const std::string& sni);

} // namespace tv
