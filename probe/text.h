// Text at the edges. Inside the program text is UTF-8; text from outside
// (network, files, the page, certificate names) is made valid UTF-8 before it
// reaches a UI message or the log, and UTF-16 exists only at Windows API calls.
#pragma once

#include <string>
#include <string_view>

namespace tv {

// Replaces every ill-formed UTF-8 sequence by U+FFFD (one per maximal
// subpart, as the Unicode standard recommends). Valid input is returned as is.
std::string toValidUtf8(std::string_view in);

// UTF-8 to UTF-16; ill-formed input becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view in);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view in);

// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t cp);

// The text up to its first NUL byte.
std::string_view untilNul(std::string_view in);

} // namespace tv
