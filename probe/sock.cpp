#include "probe/sock.h"

#include <cstring>

namespace tv {

Socket& Socket::operator=(Socket&& o) noexcept {
    if (this != &o) {
        close();
        h_ = o.release();
    }
    return *this;
}

SocketHandle Socket::release() {
    const SocketHandle h = h_;
    h_ = kInvalidSocket;
    return h;
}

void Socket::close() {
    if (h_ != kInvalidSocket)
        sockClose(h_);
    h_ = kInvalidSocket;
}

bool sendAll(SocketHandle s, std::string_view data, int& err) {
    size_t off = 0;
    err = 0;
    while (off < data.size()) {
        const long n = sockSend(s, data.data() + off, data.size() - off, err);
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

TimeSplit splitTimeout(int32_t timeoutMs) {
    if (timeoutMs < 0)
        timeoutMs = 0;
    return {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
}

bool parseIPv4(std::string_view text, uint32_t& addrBe) {
    uint8_t parts[4];
    size_t i = 0;
    for (int p = 0; p < 4; ++p) {
        if (p > 0) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
        const size_t start = i;
        unsigned v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
        }
        const size_t len = i - start;
        if (len == 0 || v > 255 || (len > 1 && text[start] == '0'))
            return false;
        parts[p] = static_cast<uint8_t>(v);
    }
    if (i != text.size())
        return false;
    std::memcpy(&addrBe, parts, 4); // bytes in wire order
    return true;
}

std::string formatIPv4(uint32_t addrBe) {
    uint8_t b[4];
    std::memcpy(b, &addrBe, 4);
    std::string s;
    for (int i = 0; i < 4; ++i) {
        if (i)
            s += '.';
        s += std::to_string(b[i]);
    }
    return s;
}

uint16_t hostToNet16(uint16_t v) {
    uint16_t out;
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    std::memcpy(&out, b, 2);
    return out;
}

uint32_t netToHost32(uint32_t v) {
    uint8_t b[4];
    std::memcpy(b, &v, 4);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

} // namespace tv
