// HTTP/1.1 requests the transfer and DNS-over-HTTPS stages send, as bytes.
// Pure functions: no sockets, no clock. Every request carries the probe's
// user agent; the Host value is written as given (the caller validated it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

inline constexpr std::string_view kProbeUserAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";
inline constexpr std::string_view kDohPath = "/dns-query";

// One "GET / HTTP/1.1" with Host, User-Agent, "Accept: */*" and
// "Connection: keep-alive" (or "close").
std::string buildKeepAliveGet(std::string_view hostValue, bool close);

// `count` such requests back to back for one connection; all keep-alive but
// the last, which says close when `closeLast`. Empty when `count` is 0.
std::string buildPipelinedGets(std::string_view hostValue, size_t count, bool closeLast);

// The head of "POST / HTTP/1.1" announcing `bodyLength` bytes of
// application/octet-stream; the body follows separately (UploadFiller).
std::string buildUploadHead(std::string_view hostValue, uint64_t bodyLength, bool close);

// Upload filler: a pseudo-random byte stream (SplitMix64), so that neither a
// compressing middlebox nor a link-layer compressor shrinks what we time.
// The same seed gives the same bytes, whatever the piece sizes.
class UploadFiller {
public:
    explicit UploadFiller(uint64_t seed) : state_(seed) {}
    // Appends the next `n` bytes of the stream to `out`.
    void append(std::string& out, size_t n);

private:
    uint64_t next();
    uint64_t state_;
    uint64_t word_ = 0;
    unsigned wordLeft_ = 0; // bytes of `word_` not yet handed out
};

// Base64url without padding (RFC 4648 section 5), as RFC 8484 wants it in
// the "dns" query parameter.
std::string base64UrlEncode(std::string_view bytes);

// RFC 8484 requests for a wire-format DNS query. POST carries the query as
// its body; GET carries it in "?dns=" ("&dns=" when `path` has a query
// already). Both ask for application/dns-message.
std::string buildDohPost(std::string_view hostValue, std::string_view query, bool close,
                         std::string_view path = kDohPath);
std::string buildDohGet(std::string_view hostValue, std::string_view query, bool close,
                        std::string_view path = kDohPath);

} // namespace tv
