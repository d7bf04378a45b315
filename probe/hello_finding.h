// Which ClientHello a probe sends, and what the browser-shaped hellos met.
//
// The TLS stage normally runs the platform library's handshake. A probe can
// instead send a Chrome- or Firefox-shaped hello (hello.h) as its TLS stage,
// or run the library's handshake and then both browser hellos on fresh
// connections to the same address, so that a filter that judges the shape of
// the hello shows as a difference between them. The mode's words cross the
// wire (scan command, res message, snapshots) and are shared with the page.
#pragma once

#include <cstdint>
#include <string_view>

#include "probe/stage.h"

namespace tv {

enum class HelloMode : uint8_t {
    Lib,     // the library's handshake only (the default; nothing extra on the wire)
    Chrome,  // the Chrome-shaped hello is the TLS stage
    Firefox, // the Firefox-shaped hello is the TLS stage
    All      // the library's handshake, then a Chrome and a Firefox hello
};

inline constexpr std::string_view kHelloLib = "lib";
inline constexpr std::string_view kHelloChrome = "chrome";
inline constexpr std::string_view kHelloFirefox = "firefox";
inline constexpr std::string_view kHelloAll = "all";

std::string_view helloModeWord(HelloMode m);
// One of the four words; anything else (an empty field too) is Lib.
HelloMode parseHelloMode(std::string_view word);

// The browser hellos of one probe, in the voice of the TLS stage (Ok: a
// ServerHello or HelloRetryRequest came back; Alert; Reset; Timeout; Fail;
// Skip: not sent). A shape the mode does not ask for stays Skip.
struct HelloFinding {
    HelloMode mode = HelloMode::Lib;
    StageOutcome chrome;
    StageOutcome firefox;
};

} // namespace tv
