// What a probe stage returns: a state, its duration and a short English
// detail, as one value. Stages never hand back words: the state is an enum
// inside the engine, turned into the wire's words in exactly one place
// (stateWord), so no state is ever read back from a human text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

enum class State : uint8_t { Skip, Ok, Nx, Timeout, Fail, Refused, Reset, Alert };

// "skip", "ok", "nx", "timeout", "fail", "refused", "reset", "alert".
std::string_view stateWord(State s);

struct StageOutcome {
    State state = State::Skip;
    int32_t ms = -1;    // -1: not measured
    std::string detail; // "WSA %d", "0x%08X", "no reply", ...; may be empty
};

// Why a TLS handshake failed, independent of the library that ran it. Each
// backend maps its own status codes (tlsBackendReason); the code itself is
// still shown as "0x%08X".
enum class TlsReason : uint8_t {
    None,             // no failure
    UnrecognizedName, // the server refused the server name (unrecognized_name alert)
    HandshakeFailure, // no common parameters (handshake_failure alert)
    ProtocolVersion,  // no common protocol version
    ClientCertWanted, // the server asked for a client certificate
    PeerAlert,        // some other fatal alert from the server
    BadMessage,       // the server's bytes are not a TLS handshake we can read
    Transport,        // reset, close or silence of the connection
    Other,
};

} // namespace tv
