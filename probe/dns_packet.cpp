#include "probe/dns_packet.h"

#include <cstdio>
#include <cstring>

namespace tv {
namespace {

constexpr size_t kHeader = 12;
constexpr size_t kNpos = static_cast<size_t>(-1);

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// The index just after the name that starts at `pos`: after its zero byte, or
// after a two-byte compression pointer that ends it (alone or after labels).
// kNpos when the name runs past the end of the datagram. A pointer is not
// followed: only the record layout matters here, not the name itself.
size_t nameEnd(const uint8_t* d, size_t len, size_t pos) {
    while (pos < len) {
        const uint8_t b = d[pos];
        if (b == 0)
            return pos + 1;
        if ((b & 0xC0) == 0xC0)
            return pos + 2 <= len ? pos + 2 : kNpos;
        pos += size_t{b} + 1;
    }
    return kNpos;
}

} // namespace

bool buildDnsQuery(std::string_view name, std::string& packet) {
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    std::string labels;
    while (!name.empty()) {
        const size_t dot = name.find('.');
        const std::string_view label = name.substr(0, dot);
        if (label.empty() || label.size() > 63)
            return false;
        labels += static_cast<char>(label.size());
        labels.append(label);
        if (dot == std::string_view::npos)
            break;
        name.remove_prefix(dot + 1);
        if (name.empty())
            return false; // "a..": an empty label before the final dot
    }
    if (labels.size() + 17 > kDnsQueryMax)
        return false;
    packet.assign(kHeader, '\0');
    packet[0] = static_cast<char>(kDnsQueryId >> 8);
    packet[1] = static_cast<char>(kDnsQueryId & 0xFF);
    packet[2] = 0x01; // recursion desired
    packet[5] = 1;    // one question
    packet += labels;
    packet += '\0';
    packet += std::string_view("\0\1\0\1", 4); // type A, class IN
    return true;
}

DnsAnswerSet parseDnsAnswerAll(const uint8_t* d, size_t len, uint16_t expectId) {
    DnsAnswerSet out;
    if (len < kHeader) {
        out.state = State::Fail;
        out.detail = "WSA 0";
        return out;
    }
    if (be16(d) != expectId) {
        out.state = State::Fail;
        out.detail = "bad id";
        return out;
    }
    const int rcode = d[3] & 0x0F;
    if (rcode != 0) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "rcode %d", rcode);
        out.state = rcode == 3 ? State::Nx : State::Fail;
        out.detail = buf;
        return out;
    }
    const unsigned count = be16(d + 6);
    size_t pos = nameEnd(d, len, kHeader);
    pos = pos == kNpos ? len : pos + 4;
    for (unsigned i = 0; i < count; ++i) {
        if (pos + 12 > len)
            break;
        const size_t end = nameEnd(d, len, pos);
        if (end == kNpos || end + 10 > len)
            break;
        const uint16_t type = be16(d + end);
        const size_t rdLen = be16(d + end + 8);
        const size_t rdata = end + 10;
        if (type == 1 && rdLen == 4 && rdata + 4 <= len) {
            uint32_t a;
            std::memcpy(&a, d + rdata, 4); // wire order is network order
            out.addrsBe.push_back(a);
        }
        pos = rdata + rdLen;
    }
    if (out.addrsBe.empty()) {
        out.state = State::Fail;
        out.detail = "empty answer";
        return out;
    }
    const uint8_t* a = reinterpret_cast<const uint8_t*>(&out.addrsBe.front());
    char buf[24];
    std::snprintf(buf, sizeof buf, "A %d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    out.state = State::Ok;
    out.detail = buf;
    return out;
}

DnsVerdict parseDnsAnswer(const uint8_t* d, size_t len) {
    DnsAnswerSet all = parseDnsAnswerAll(d, len, kDnsQueryId);
    return {all.state, std::move(all.detail)};
}

} // namespace tv
