#include "base/text.h"

#include <cstdint>

namespace tv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The byte length of a well-formed sequence from its lead byte, with the
// bounds of its second byte (the first continuation byte).
struct LeadInfo {
    size_t len = 0; // 0: not a valid lead byte
    char32_t bits = 0;
    uint8_t lo = 0x80, hi = 0xBF;
};

LeadInfo leadInfo(uint8_t b0) {
    LeadInfo l;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        l.len = 2;
        l.bits = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        l.len = 3;
        l.bits = b0 & 0x0F;
        if (b0 == 0xE0)
            l.lo = 0xA0;
        if (b0 == 0xED)
            l.hi = 0x9F; // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        l.len = 4;
        l.bits = b0 & 0x07;
        if (b0 == 0xF0)
            l.lo = 0x90;
        if (b0 == 0xF4)
            l.hi = 0x8F;
    }
    return l;
}

// Decodes one code point at `i`; on an ill-formed sequence returns U+FFFD and
// advances past the maximal subpart only.
char32_t decodeOne(std::string_view s, size_t& i) {
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const LeadInfo l = leadInfo(b0);
    if (l.len == 0) {
        ++i;
        return kReplacement;
    }
    char32_t cp = l.bits;
    size_t j = i + 1;
    for (size_t k = 1; k < l.len; ++k, ++j) {
        if (j >= s.size()) {
            i = j;
            return kReplacement;
        }
        const auto b = static_cast<uint8_t>(s[j]);
        const uint8_t lo = (k == 1) ? l.lo : 0x80;
        const uint8_t hi = (k == 1) ? l.hi : 0xBF;
        if (b < lo || b > hi) {
            i = j;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i = j;
    return cp;
}

bool isContinuation(char c) {
    return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}

void appendEscapedValid(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    size_t run = 0; // start of the pending stretch of bytes copied unchanged
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<uint8_t>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    out.append(s.data() + run, s.size() - run);
}

} // namespace

bool isWellFormedUtf8(std::string_view s) {
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const auto b0 = static_cast<uint8_t>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        const LeadInfo l = leadInfo(b0);
        if (l.len == 0 || n - i < l.len)
            return false;
        const auto b1 = static_cast<uint8_t>(s[i + 1]);
        if (b1 < l.lo || b1 > l.hi)
            return false;
        for (size_t k = 2; k < l.len; ++k)
            if (!isContinuation(s[i + k]))
                return false;
        i += l.len;
    }
    return true;
}

char32_t decodeUtf8At(std::string_view s, size_t i, size_t& len) {
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) {
        len = 1;
        return b0;
    }
    char32_t cp;
    if (b0 < 0xE0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 < 0xF0) {
        len = 3;
        cp = b0 & 0x0F;
    } else {
        len = 4;
        cp = b0 & 0x07;
    }
    for (size_t k = 1; k < len && i + k < s.size(); ++k)
        cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string toValidUtf8(std::string_view in) {
    if (isWellFormedUtf8(in))
        return std::string(in);
    std::string out;
    out.reserve(in.size() + 8);
    for (size_t i = 0; i < in.size();)
        appendUtf8(out, decodeOne(in, i));
    return out;
}

std::u16string utf8ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        const char32_t cp = decodeOne(in, i);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string_view untilNul(std::string_view in) {
    const auto z = in.find('\0');
    return z == std::string_view::npos ? in : in.substr(0, z);
}

std::string_view cutUtf8Bytes(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes)
        return s;
    size_t n = maxBytes;
    while (n > 0 && isContinuation(s[n]))
        --n;
    return s.substr(0, n);
}

std::string_view cutUtf16Units(std::string_view s, size_t maxUnits) {
    size_t units = 0, i = 0;
    while (i < s.size()) {
        size_t len = 0;
        decodeUtf8At(s, i, len);
        const size_t u = len == 4 ? 2 : 1; // beyond the BMP: a surrogate pair
        if (units + u > maxUnits)
            break;
        units += u;
        i += len;
    }
    return s.substr(0, i < s.size() ? i : s.size());
}

size_t countCodePoints(std::string_view s) {
    size_t n = 0;
    for (const char c : s)
        if (!isContinuation(c))
            ++n;
    return n;
}

std::string_view cutCodePoints(std::string_view s, size_t maxPoints) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (!isContinuation(s[i])) {
            if (n == maxPoints)
                return s.substr(0, i);
            ++n;
        }
    }
    return s;
}

void appendJsonEscaped(std::string& out, std::string_view text) {
    if (isWellFormedUtf8(text))
        appendEscapedValid(out, text);
    else
        appendEscapedValid(out, toValidUtf8(text));
}

std::string toPrintable(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    const std::string valid = toValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (size_t i = 0; i < valid.size();) {
        size_t len = 0;
        const char32_t cp = decodeUtf8At(valid, i, len);
        if (cp < 0x20 || cp == 0x7F) {
            out += "\\x";
            out += kHex[cp >> 4];
            out += kHex[cp & 0xF];
        } else if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
                   (cp >= 0x2066 && cp <= 0x2069)) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(cp >> shift) & 0xF];
        } else {
            out.append(valid, i, len);
        }
        i += len;
    }
    return out;
}

void appendJsonQuoted(std::string& out, std::string_view text) {
    out += '"';
    appendJsonEscaped(out, text);
    out += '"';
}

} // namespace tv
