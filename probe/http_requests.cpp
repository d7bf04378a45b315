#include "probe/http_requests.h"

namespace tv {
namespace {

// Request line, Host, User-Agent, then whatever the caller adds.
std::string head(std::string_view requestLine, std::string_view hostValue) {
    std::string r;
    r.reserve(160 + hostValue.size());
    r.append(requestLine);
    r += "\r\nHost: ";
    r.append(hostValue);
    r += "\r\nUser-Agent: ";
    r.append(kProbeUserAgent);
    r += "\r\n";
    return r;
}

void connectionAndEnd(std::string& r, bool close) {
    r += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
}

} // namespace

std::string buildKeepAliveGet(std::string_view hostValue, bool close) {
    std::string r = head("GET / HTTP/1.1", hostValue);
    r += "Accept: */*\r\n";
    connectionAndEnd(r, close);
    return r;
}

std::string buildPipelinedGets(std::string_view hostValue, size_t count, bool closeLast) {
    std::string all;
    for (size_t i = 0; i < count; ++i)
        all += buildKeepAliveGet(hostValue, closeLast && i + 1 == count);
    return all;
}

std::string buildUploadHead(std::string_view hostValue, uint64_t bodyLength, bool close) {
    std::string r = head("POST / HTTP/1.1", hostValue);
    r += "Accept: */*\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
    r += std::to_string(bodyLength);
    r += "\r\n";
    connectionAndEnd(r, close);
    return r;
}

uint64_t UploadFiller::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void UploadFiller::append(std::string& out, size_t n) {
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n; ++i) {
        if (wordLeft_ == 0) {
            word_ = next();
            wordLeft_ = 8;
        }
        out += static_cast<char>(word_ & 0xFF);
        word_ >>= 8;
        --wordLeft_;
    }
}

std::string base64UrlEncode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                           (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
        if (rest == 2)
            v |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        if (rest == 2)
            out += kAlphabet[(v >> 6) & 63];
    }
    return out;
}

std::string buildDohPost(std::string_view hostValue, std::string_view query, bool close,
                         std::string_view path) {
    std::string line = "POST ";
    line.append(path);
    line += " HTTP/1.1";
    std::string r = head(line, hostValue);
    r += "Accept: application/dns-message\r\nContent-Type: application/dns-message\r\n"
         "Content-Length: ";
    r += std::to_string(query.size());
    r += "\r\n";
    connectionAndEnd(r, close);
    r.append(query);
    return r;
}

std::string buildDohGet(std::string_view hostValue, std::string_view query, bool close,
                        std::string_view path) {
    std::string line = "GET ";
    line.append(path);
    line += path.find('?') == std::string_view::npos ? "?dns=" : "&dns=";
    line += base64UrlEncode(query);
    line += " HTTP/1.1";
    std::string r = head(line, hostValue);
    r += "Accept: application/dns-message\r\n";
    connectionAndEnd(r, close);
    return r;
}

} // namespace tv
