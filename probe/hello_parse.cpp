// ClientHello parser and fingerprints. JA3: https://github.com/salesforce/ja3
// (README: "SSLVersion,Cipher,SSLExtension,EllipticCurve,EllipticCurvePointFormat",
// GREASE ignored as RFC 8701 values). JA4: FoxIO-LLC/ja4, technical_details/JA4.md.
#include "probe/hello_parse.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "probe/hello_crypto.h"

namespace tv {
namespace {

// A bounds-checked cursor over a byte range. Every read fails once the range
// is exhausted; a failed reader stays failed.
class Reader {
public:
    explicit Reader(std::string_view d) : d_(d) {}
    bool ok() const { return ok_; }
    bool empty() const { return d_.empty(); }
    size_t left() const { return d_.size(); }
    uint32_t num(int width) {
        if (!ok_ || d_.size() < static_cast<size_t>(width))
            return fail(), 0;
        uint32_t v = 0;
        for (int i = 0; i < width; ++i)
            v = v << 8 | static_cast<uint8_t>(d_[static_cast<size_t>(i)]);
        d_.remove_prefix(static_cast<size_t>(width));
        return v;
    }
    uint8_t u8() { return static_cast<uint8_t>(num(1)); }
    uint16_t u16() { return static_cast<uint16_t>(num(2)); }
    std::string_view take(size_t n) {
        if (!ok_ || d_.size() < n)
            return fail(), std::string_view{};
        const std::string_view v = d_.substr(0, n);
        d_.remove_prefix(n);
        return v;
    }
    // A vector with a length prefix of `width` bytes.
    Reader sub(int width) {
        const std::string_view v = take(num(width));
        return Reader(v, ok_);
    }
    // True when everything was read and nothing is left over.
    bool done() const { return ok_ && d_.empty(); }

private:
    Reader(std::string_view d, bool ok) : d_(d), ok_(ok) {}
    void fail() {
        ok_ = false;
        d_ = {};
    }
    std::string_view d_;
    bool ok_ = true;
};

bool u16Vector(Reader r, int width, std::vector<uint16_t>& out, bool allowEmpty) {
    Reader list = r.sub(width);
    if (!list.ok() || list.left() % 2 != 0 || (!allowEmpty && list.empty()))
        return false;
    while (!list.empty())
        out.push_back(list.u16());
    return list.done() && r.done();
}

bool decodeExtension(const HelloExtension& e, ClientHelloInfo& h) {
    Reader r(e.body);
    switch (e.type) {
    case 0x0000: { // server_name
        Reader list = r.sub(2);
        while (list.ok() && !list.empty()) {
            const uint8_t type = list.u8();
            const std::string_view name = list.take(list.u16());
            if (type == 0 && !h.hasSni && list.ok()) {
                h.hasSni = true;
                h.sni = std::string(name);
            }
        }
        return h.hasSni && list.done() && r.done();
    }
    case 0x000a:
        return u16Vector(r, 2, h.groups, false);
    case 0x000b: {
        Reader list = r.sub(1);
        h.pointFormats = std::string(list.take(list.left()));
        return list.done() && r.done() && !h.pointFormats.empty();
    }
    case 0x0010: {
        Reader list = r.sub(2);
        while (list.ok() && !list.empty()) {
            const std::string_view p = list.take(list.u8());
            if (p.empty())
                return false;
            h.alpn.emplace_back(p);
        }
        return list.done() && r.done() && !h.alpn.empty();
    }
    case 0x000d:
        return u16Vector(r, 2, h.signatureAlgorithms, false);
    case 0x002b:
        return u16Vector(r, 1, h.versions, false);
    case 0x0033: {
        Reader list = r.sub(2);
        while (list.ok() && !list.empty()) {
            KeyShareEntry k;
            k.group = list.u16();
            k.key = std::string(list.take(list.u16()));
            if (list.ok())
                h.keyShares.push_back(std::move(k));
        }
        return list.done() && r.done();
    }
    default:
        return true;
    }
}

std::string hex4(uint16_t v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04x", v);
    return b;
}

std::string joined(const std::vector<uint16_t>& values, char sep, bool asHex) {
    std::string s;
    for (uint16_t v : values) {
        if (isGrease(v))
            continue;
        if (!s.empty())
            s += sep;
        s += asHex ? hex4(v) : std::to_string(v);
    }
    return s;
}

std::vector<uint16_t> extensionTypes(const ClientHelloInfo& h) {
    std::vector<uint16_t> t;
    for (const auto& e : h.extensions)
        t.push_back(e.type);
    return t;
}

size_t nonGreaseCount(const std::vector<uint16_t>& v) {
    return static_cast<size_t>(
        std::count_if(v.begin(), v.end(), [](uint16_t x) { return !isGrease(x); }));
}

std::string twoDigits(size_t n) {
    char b[4];
    std::snprintf(b, sizeof b, "%02u", static_cast<unsigned>(std::min<size_t>(n, 99)));
    return b;
}

std::string versionCode(const ClientHelloInfo& h) {
    uint16_t v = 0;
    for (uint16_t x : h.versions)
        if (!isGrease(x))
            v = std::max(v, x);
    if (v == 0)
        v = h.legacyVersion;
    switch (v) {
    case 0x0304:
        return "13";
    case 0x0303:
        return "12";
    case 0x0302:
        return "11";
    case 0x0301:
        return "10";
    case 0x0300:
        return "s3";
    default:
        return "00";
    }
}

std::string alpnCode(const ClientHelloInfo& h) {
    if (h.alpn.empty())
        return "00";
    const std::string& p = h.alpn.front();
    auto alnum = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    if (alnum(p.front()) && alnum(p.back()))
        return std::string{p.front(), p.back()};
    const char* digits = "0123456789abcdef";
    return std::string{digits[static_cast<uint8_t>(p.front()) >> 4],
                       digits[static_cast<uint8_t>(p.back()) & 0x0F]};
}

std::vector<uint16_t> sortedWithout(std::vector<uint16_t> v, std::initializer_list<uint16_t> drop) {
    std::erase_if(v, [&](uint16_t x) {
        return isGrease(x) || std::find(drop.begin(), drop.end(), x) != drop.end();
    });
    std::sort(v.begin(), v.end());
    return v;
}

struct Ja4Parts {
    std::string a, b, c;
};

Ja4Parts ja4Parts(const ClientHelloInfo& h) {
    const std::vector<uint16_t> types = extensionTypes(h);
    Ja4Parts p;
    p.a = "t" + versionCode(h) + (h.hasSni ? "d" : "i") +
          twoDigits(nonGreaseCount(h.cipherSuites)) + twoDigits(nonGreaseCount(types)) +
          alpnCode(h);
    p.b = joined(sortedWithout(h.cipherSuites, {}), ',', true);
    p.c = joined(sortedWithout(types, {0x0000, 0x0010}), ',', true);
    const std::string sig = joined(h.signatureAlgorithms, ',', true);
    if (!sig.empty())
        p.c += "_" + sig;
    return p;
}

std::string hash12(const std::string& s) {
    if (s.empty())
        return "000000000000";
    uint8_t d[32];
    if (!helloSha256(s, d))
        return {};
    std::string out;
    for (int i = 0; i < 6; ++i)
        out += hex4(d[i]).substr(2);
    return out;
}

} // namespace

bool isGrease(uint16_t v) {
    return (v & 0x0F0F) == 0x0A0A && (v >> 8) == (v & 0xFF);
}

bool parseClientHello(std::string_view record, ClientHelloInfo& out) {
    out = ClientHelloInfo{};
    Reader rec(record);
    if (rec.u8() != 0x16)
        return false;
    out.recordVersion = rec.u16();
    Reader hs = rec.sub(2);
    if (!rec.done() || hs.u8() != 1)
        return false;
    Reader ch = hs.sub(3);
    if (!hs.done())
        return false;
    out.legacyVersion = ch.u16();
    out.random = std::string(ch.take(32));
    Reader sid = ch.sub(1);
    if (sid.left() > 32)
        return false;
    out.sessionId = std::string(sid.take(sid.left()));
    Reader suites = ch.sub(2);
    if (!suites.ok() || suites.empty() || suites.left() % 2 != 0)
        return false;
    while (!suites.empty())
        out.cipherSuites.push_back(suites.u16());
    Reader comp = ch.sub(1);
    out.compression = std::string(comp.take(comp.left()));
    if (!ch.ok() || out.compression.empty())
        return false;
    if (ch.empty()) // no extensions at all is a valid, if old, hello
        return true;
    Reader exts = ch.sub(2);
    if (!ch.done())
        return false;
    std::set<uint16_t> seen;
    while (exts.ok() && !exts.empty()) {
        HelloExtension e;
        e.type = exts.u16();
        e.body = std::string(exts.take(exts.u16()));
        if (!exts.ok() || !seen.insert(e.type).second || !decodeExtension(e, out))
            return false;
        out.extensions.push_back(std::move(e));
    }
    return exts.done();
}

std::string ja3String(const ClientHelloInfo& h) {
    std::string formats;
    for (char f : h.pointFormats) {
        if (!formats.empty())
            formats += '-';
        formats += std::to_string(static_cast<uint8_t>(f));
    }
    return std::to_string(h.legacyVersion) + "," + joined(h.cipherSuites, '-', false) + "," +
           joined(extensionTypes(h), '-', false) + "," + joined(h.groups, '-', false) + "," +
           formats;
}

std::string ja4Raw(const ClientHelloInfo& h) {
    const Ja4Parts p = ja4Parts(h);
    return p.a + "_" + p.b + "_" + p.c;
}

std::string ja4(const ClientHelloInfo& h) {
    const Ja4Parts p = ja4Parts(h);
    const std::string b = hash12(p.b), c = hash12(p.c);
    if (b.empty() || c.empty())
        return {};
    return p.a + "_" + b + "_" + c;
}

} // namespace tv
