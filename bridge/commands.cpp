// The page-command half of the wire: builders, the splitter and the readers
// of fields and job lists.
#include "bridge/protocol.h"

#include <limits>

#include "base/text.h"

namespace tv {
namespace {

// A free-text field cannot hold the field separator.
void appendField(std::string& out, std::string_view field) {
    out += '\t';
    for (const char c : field)
        out += c == '\t' ? ' ' : c;
}

} // namespace

std::string buildScanCommand(const ScanRequest& r) {
    std::string c(kCmdScan);
    c.reserve(64 + r.mode.size() + r.jobs.size());
    appendField(c, std::to_string(r.run));
    appendField(c, r.mode);
    appendField(c, std::to_string(r.timeoutMs));
    appendField(c, std::to_string(r.threads));
    appendField(c, r.http ? "1" : "0");
    appendField(c, r.jobs);
    // The optional fields up to the last one that differs from its default:
    // a command without options stays as older senders wrote it.
    const std::string opt[] = {r.xfer ? "1" : "0", std::string(helloModeWord(r.hello)),
                               std::to_string(r.repeat), r.dnsCheck ? "1" : "0"};
    const std::string_view dflt[] = {kScanXferDefault, kScanHelloDefault, kScanRepeatDefault, "0"};
    size_t last = 0;
    for (size_t i = 0; i < std::size(opt); ++i)
        if (opt[i] != dflt[i])
            last = i + 1;
    for (size_t i = 0; i < last; ++i)
        appendField(c, opt[i]);
    return c;
}

std::string buildBasicsCommand(int32_t run, int32_t timeoutMs) {
    std::string c(kCmdBasics);
    appendField(c, std::to_string(run));
    appendField(c, std::to_string(timeoutMs));
    return c;
}

std::string buildSaveCommand(std::string_view name, std::string_view text) {
    std::string c(kCmdSave);
    appendField(c, name);
    c += '\t';
    c += text;
    return c;
}

std::string buildNameCommand(std::string_view command, std::string_view name) {
    std::string c(command);
    appendField(c, name);
    return c;
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
        const char32_t cp = decodeUtf8At(s, b, len);
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
        const char32_t cp = decodeUtf8At(s, lead, len);
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
        if (!isWhiteSpace(decodeUtf8At(field, i, len)))
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

std::vector<ProbeJob> parseJobList(std::string_view list, size_t limit) {
    std::string repaired;
    if (!isWellFormedUtf8(list)) {
        repaired = toValidUtf8(list);
        list = repaired;
    }
    std::vector<ProbeJob> jobs;
    size_t start = 0;
    while (start <= list.size() && jobs.size() < limit) {
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
