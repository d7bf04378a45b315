// HTTP over TLS, the text half: the request we send and the reading of the
// status line. Pure functions, shared by every TLS backend.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

// "GET / HTTP/1.1\r\nHost: " + host + the fixed 91-byte tail of headers.
// With `keepAlive` the last header line reads "Connection: keep-alive".
std::string buildHttpRequest(std::string_view hostValue, bool keepAlive = false);

// Reads a status line the way the pattern "HTTP/%*d.%*d %d" does (scanf rules:
// each number may be preceded by white space and a sign), looking only at the
// text before its first NUL byte. True with the code when it was converted; a
// code outside the 32-bit range counts as not converted.
bool parseStatusLine(std::string_view text, int32_t& code);

} // namespace tv
