#include "bridge/protocol.h"

#include <limits>

#include "app/log.h"
#include "probe/text.h"

namespace tv {
namespace {

// True when `s` is well-formed UTF-8 (the common case: then no repair copy).
bool isWellFormedUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto b0 = static_cast<uint8_t>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint8_t lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0)
                lo = 0xA0;
            if (b0 == 0xED)
                hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0)
                lo = 0x90;
            if (b0 == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        const auto b1 = static_cast<uint8_t>(s[i + 1]);
        if (b1 < lo || b1 > hi)
            return false;
        for (size_t k = 2; k < len; ++k) {
            const auto b = static_cast<uint8_t>(s[i + k]);
            if (b < 0x80 || b > 0xBF)
                return false;
        }
        i += len;
    }
    return true;
}

// Decodes the code point starting at s[i] of well-formed UTF-8; sets `len`.
char32_t decodeAt(std::string_view s, size_t i, size_t& len) {
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

void appendEscaped(std::string& out, std::string_view s) {
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

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    if (isWellFormedUtf8(text)) {
        appendEscaped(out, text);
    } else {
        appendEscaped(out, toValidUtf8(text));
    }
    out += '"';
}

// Small builder for one message: {"t":"kind" ,"key":value ... }.
class Message {
public:
    explicit Message(std::string_view kind, size_t reserve = 64) {
        s_.reserve(reserve + kind.size() + 16);
        s_ += "{\"t\":";
        appendQuoted(s_, kind);
    }
    Message& str(std::string_view key, std::string_view value) {
        keyOf(key);
        appendQuoted(s_, value);
        return *this;
    }
    Message& num(std::string_view key, int64_t value) {
        keyOf(key);
        s_ += std::to_string(value);
        return *this;
    }
    Message& unum(std::string_view key, uint64_t value) {
        keyOf(key);
        s_ += std::to_string(value);
        return *this;
    }
    Message& flag(std::string_view key, bool value) {
        keyOf(key);
        s_ += value ? "true" : "false";
        return *this;
    }
    Message& raw(std::string_view key, std::string_view json) {
        keyOf(key);
        s_ += json;
        return *this;
    }
    std::string done() {
        s_ += '}';
        return std::move(s_);
    }

private:
    void keyOf(std::string_view key) {
        s_ += ",\"";
        s_ += key; // keys are fixed ASCII names
        s_ += "\":";
    }
    std::string s_;
};

} // namespace

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    if (isWellFormedUtf8(text))
        appendEscaped(out, text);
    else
        appendEscaped(out, toValidUtf8(text));
    return out;
}

std::string jsonQuote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 10);
    appendQuoted(out, text);
    return out;
}

std::string buildHello(std::string_view scansDir) {
    return Message("hello", scansDir.size() + 96)
        .str("project", kProductName)
        .str("author", kAuthor)
        .str("version", kVersion)
        .str("dir", scansDir)
        .done();
}

std::string buildRes(int32_t run, uint64_t idx, const ProbeResult& r) {
    return Message("res", 320 + r.host.size() + r.sni.size() + r.cert.size() + r.tlsDetail.size())
        .num("run", run)
        .unum("idx", idx)
        .str("host", r.host)
        .str("sni", r.sni)
        .str("ip", r.ip)
        .str("dns", r.dns)
        .num("dnsMs", r.dnsMs)
        .str("tcp", r.tcp)
        .num("tcpMs", r.tcpMs)
        .str("tls", r.tls)
        .num("tlsMs", r.tlsMs)
        .str("tlsDetail", r.tlsDetail)
        .str("cert", r.cert)
        .flag("certOk", r.certOk)
        .str("http", r.http)
        .num("httpMs", r.httpMs)
        .num("httpCode", r.httpCode)
        .str("verdict", r.verdict)
        .done();
}

std::string buildNet(int32_t run, const NetCheckResult& n) {
    return Message("net", 96 + n.group.size() + n.name.size() + n.detail.size())
        .num("run", run)
        .str("group", n.group)
        .str("name", n.name)
        .str("state", n.state)
        .str("detail", n.detail)
        .num("ms", n.ms)
        .done();
}

std::string buildIpInfo(int32_t run, std::string_view body) {
    const std::string_view text = untilNul(body);
    return Message("ipinfo", 32 + text.size()).num("run", run).str("body", text).done();
}

std::string buildDone(int32_t run, bool cancelled) {
    return Message("done").num("run", run).flag("cancelled", cancelled).done();
}

std::string buildFiles(const std::vector<FileEntry>& list) {
    std::string items = "[";
    bool first = true;
    for (const FileEntry& f : list) {
        if (!first)
            items += ',';
        first = false;
        items += "{\"name\":";
        appendQuoted(items, f.name);
        items += ",\"size\":";
        items += std::to_string(f.size);
        items += '}';
    }
    items += ']';
    return Message("files", items.size()).raw("list", items).done();
}

std::string buildSaved(std::string_view name) {
    return Message("saved", name.size()).str("name", name).done();
}

std::string buildFile(std::string_view name, std::string_view data) {
    // Escaping can grow the text; a little headroom saves most reallocations.
    return Message("file", name.size() + data.size() + data.size() / 16)
        .str("name", name)
        .str("data", data)
        .done();
}

std::string buildMsg(std::string_view text) {
    return Message("msg", text.size()).str("text", text).done();
}

std::vector<std::string_view> splitCommand(std::string_view command) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = command.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(command.substr(start));
            return fields;
        }
        fields.push_back(command.substr(start, tab - start));
        start = tab + 1;
    }
}

std::string_view commandRest(std::string_view command, const std::vector<std::string_view>& fields,
                             size_t first) {
    if (first >= fields.size())
        return {};
    const size_t offset = static_cast<size_t>(fields[first].data() - command.data());
    return command.substr(offset);
}

bool isWhiteSpace(char32_t cp) {
    switch (cp) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return cp >= 0x2000 && cp <= 0x200A;
    }
}

std::string_view trimWhiteSpace(std::string_view s) {
    size_t b = 0;
    while (b < s.size()) {
        size_t len;
        const char32_t cp = decodeAt(s, b, len);
        if (!isWhiteSpace(cp))
            break;
        b += len;
    }
    size_t e = s.size();
    while (e > b) {
        size_t lead = e - 1;
        while (lead > b && (static_cast<uint8_t>(s[lead]) & 0xC0) == 0x80)
            --lead;
        size_t len;
        const char32_t cp = decodeAt(s, lead, len);
        if (lead + len != e || !isWhiteSpace(cp))
            break;
        e = lead;
    }
    return s.substr(b, e - b);
}

int32_t readInt32(std::string_view field) {
    std::string repaired;
    if (!isWellFormedUtf8(field)) {
        repaired = toValidUtf8(field);
        field = repaired;
    }
    size_t i = 0;
    while (i < field.size()) {
        size_t len;
        if (!isWhiteSpace(decodeAt(field, i, len)))
            break;
        i += len;
    }
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    // Accumulate the magnitude, saturating well above the 32-bit range.
    constexpr int64_t kCap = int64_t{1} << 40;
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > kCap)
            value = kCap;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::vector<ProbeJob> parseJobList(std::string_view list) {
    std::string repaired;
    if (!isWellFormedUtf8(list)) {
        repaired = toValidUtf8(list);
        list = repaired;
    }
    std::vector<ProbeJob> jobs;
    size_t start = 0;
    while (start <= list.size() && jobs.size() < kMaxJobs) {
        size_t lf = list.find('\n', start);
        if (lf == std::string_view::npos)
            lf = list.size();
        const std::string_view line = trimWhiteSpace(list.substr(start, lf - start));
        start = lf + 1;
        const size_t bar = line.find('|');
        ProbeJob job;
        if (bar == std::string_view::npos) {
            job.host = std::string(line);
            job.sni = job.host;
        } else {
            job.host = std::string(trimWhiteSpace(line.substr(0, bar)));
            job.sni = std::string(trimWhiteSpace(line.substr(bar + 1)));
        }
        if (!job.host.empty())
            jobs.push_back(std::move(job));
    }
    return jobs;
}

} // namespace tv
