// The one text toolkit. Inside the program text is UTF-8; text from outside
// (network, files, the page, certificate names) is made valid UTF-8 before it
// reaches a UI message or the log, and UTF-16 exists only at Windows API calls.
// Every check, repair, cut and count of UTF-8 and every JSON string escape in
// the program goes through these functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tv {

// True when `s` is well-formed UTF-8 (no overlongs, no surrogates, nothing
// above U+10FFFF). The common case, so callers can skip the repair copy.
bool isWellFormedUtf8(std::string_view s);

// Replaces every ill-formed UTF-8 sequence by U+FFFD (one per maximal
// subpart, as the Unicode standard recommends). Valid input is returned as is.
std::string toValidUtf8(std::string_view in);

// Decodes the code point starting at s[i] of well-formed UTF-8 and sets `len`
// to its byte length. Reads nothing past the end of `s`.
char32_t decodeUtf8At(std::string_view s, size_t i, size_t& len);

// UTF-8 to UTF-16; ill-formed input becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view in);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view in);

// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t cp);

// The text up to its first NUL byte.
std::string_view untilNul(std::string_view in);

// The longest prefix of at most `maxBytes` bytes that does not split a UTF-8
// sequence.
std::string_view cutUtf8Bytes(std::string_view s, size_t maxBytes);

// The longest prefix of well-formed UTF-8 `s` that takes at most `maxUnits`
// UTF-16 code units (a character beyond the BMP counts two and is never split).
std::string_view cutUtf16Units(std::string_view s, size_t maxUnits);

// Code points of well-formed UTF-8 (continuation bytes are not counted).
size_t countCodePoints(std::string_view s);

// The longest prefix of `s` holding at most `maxPoints` code points.
std::string_view cutCodePoints(std::string_view s, size_t maxPoints);

// Appends the body of a JSON string for `text`: TAB, LF, CR, '"' and '\' get
// their short forms; every other byte below 0x20 becomes \u00xx (lower-case
// hex); all else (also '/', U+007F and everything non-ASCII) is copied as is.
// Ill-formed UTF-8 becomes U+FFFD first.
void appendJsonEscaped(std::string& out, std::string_view text);

// '"' + the escaped body + '"'.
void appendJsonQuoted(std::string& out, std::string_view text);

// Text from outside made safe to show on a terminal or write to a log line:
// ill-formed UTF-8 becomes U+FFFD; every C0 control and DEL is shown as \xNN,
// every C1 control (U+0080..U+009F) as \u00NN and the bidirectional
// embeddings, overrides and isolates (U+202A..U+202E, U+2066..U+2069) as
// \u20NN, so nothing in it moves the cursor, sets a title or reorders the
// line. All else is copied as is.
std::string toPrintable(std::string_view text);

} // namespace tv
