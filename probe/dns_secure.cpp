#include "probe/dns_secure.h"

#include <cstdio>
#include <cstring>

#include "probe/dns_packet.h"

namespace tv {
bool buildDnsQueryWithId(std::string_view name, uint16_t id, std::string& packet) {
    if (!buildDnsQuery(name, packet))
        return false;
    packet[0] = static_cast<char>(id >> 8);
    packet[1] = static_cast<char>(id & 0xFF);
    return true;
}

bool frameDnsStream(std::string_view message, std::string& out) {
    if (message.size() > kDnsStreamMessageMax)
        return false;
    out.clear();
    out.reserve(message.size() + 2);
    out += static_cast<char>(message.size() >> 8);
    out += static_cast<char>(message.size() & 0xFF);
    out.append(message);
    return true;
}

void DnsStreamReader::feed(const uint8_t* data, size_t len) {
    bytesIn_ += len;
    size_t i = 0;
    while (i < len && !malformed_) {
        if (lenBytes_ < 2) {
            need_ = (need_ << 8) | data[i++];
            if (++lenBytes_ < 2)
                continue;
            if (need_ < kDnsHeaderSize) {
                malformed_ = true;
                return;
            }
            keeping_ = kept_.size() < kDnsStreamKeep;
            cur_.clear();
            if (keeping_)
                cur_.reserve(need_);
            continue;
        }
        const size_t take = len - i < need_ ? len - i : need_;
        if (keeping_)
            cur_.append(reinterpret_cast<const char*>(data + i), take);
        i += take;
        need_ -= take;
        if (need_ == 0) {
            ++count_;
            if (keeping_)
                kept_.push_back(std::move(cur_));
            cur_.clear();
            lenBytes_ = 0;
        }
    }
}

} // namespace tv
