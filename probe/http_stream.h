// An incremental reader of HTTP/1.1 responses, fed the decrypted bytes of one
// connection in whatever pieces they arrive. It follows a sequence of
// pipelined responses and counts them; it never buffers a body except the
// first one, and only when asked (a DNS answer carried over HTTPS).
//
// Contract:
// - feed() takes any number of bytes, including none; the outcome does not
//   depend on how the stream was split. Every byte is looked at once: one
//   byte at a time costs the same as one large piece.
// - Framing follows RFC 9112 section 6.3: 1xx, 204 and 304 responses (and,
//   when asked, responses to HEAD) have no body; a Transfer-Encoding whose
//   last coding is chunked means chunked; any other Transfer-Encoding, or no
//   Content-Length, means the body runs to the end of the stream; otherwise
//   Content-Length. Interim 1xx responses are skipped and not counted; a 101
//   (we never ask to switch protocols) is malformed.
// - Lines end in LF with an optional CR before it. Header names are matched
//   without regard to case; obsolete line folding joins a field's lines.
// - Bounds: a line over kHttpLineMax bytes (terminator not counted), a header
//   or trailer section over kHttpHeaderSectionMax bytes (terminators counted),
//   a Content-Length or chunk size that does not fit, or a chunk over
//   kHttpChunkMax is malformed.
// - Once malformed, parsing stops for good; bytesIn() still counts every byte
//   fed, so a caller can report how much arrived.
// - finish() says the stream ended in order (TLS close_notify, or TCP FIN when
//   the caller accepts that). It completes a body that runs to the end of the
//   stream; a response cut anywhere else is left incomplete (truncated()).
//   Do not call it on a reset: a body delimited by the close is then not
//   known to be whole.
// - After a complete response that carried "Connection: close", later bytes
//   are not parsed; they are counted in bytesIn() and extraBytes().
// Never throws except std::bad_alloc; memory is bounded by the limits above
// plus the kept body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

inline constexpr size_t kHttpLineMax = 16384;
inline constexpr size_t kHttpHeaderSectionMax = 65536;
// Larger than any chunk a server sends; the bound only keeps the counters
// far from overflow on hostile input.
inline constexpr uint64_t kHttpChunkMax = uint64_t{1} << 40;
// Status codes of the first responses are kept; later ones are only counted.
inline constexpr size_t kHttpStatusKeep = 64;
inline constexpr size_t kHttpContentTypeMax = 256;

enum class HttpStreamError {
    None,
    StatusLine,     // not "HTTP/1.x NNN ..."
    HeaderLine,     // a field line without a token name and colon, or a fold with nothing to fold
    LineTooLong,    // a line over kHttpLineMax
    HeaderTooLarge, // a header or trailer section over kHttpHeaderSectionMax
    ContentLength,  // not digits, differing values, or does not fit in 64 bits
    ChunkSize,      // not hex, or over kHttpChunkMax
    ChunkEnd,       // chunk data not followed by a line end
    SwitchProtocol  // a 101 that we never asked for
};

struct HttpStreamOptions {
    bool headRequests = false; // every response answers a HEAD: none has a body
    size_t keepBodyMax = 0;    // bytes of the first final response's body to keep
};

class HttpStreamReader {
public:
    HttpStreamReader() = default;
    explicit HttpStreamReader(HttpStreamOptions opt) : opt_(opt) {}

    void feed(const char* data, size_t len);
    void feed(std::string_view bytes) { feed(bytes.data(), bytes.size()); }
    void finish();

    // Final (non-1xx) responses whose body is complete.
    uint64_t responses() const { return responses_; }
    // Status codes of the first kHttpStatusKeep complete responses, in order.
    const std::vector<int>& statuses() const { return statuses_; }
    // The status of the first final response once its header section is read
    // (it may still be incomplete); 0 before that.
    int firstStatus() const { return firstStatus_; }
    uint64_t bytesIn() const { return bytesIn_; }
    // Payload bytes of every body: chunk data without its framing.
    uint64_t bodyBytes() const { return bodyBytes_; }
    uint64_t extraBytes() const { return extraBytes_; }
    // Some response carried a "close" connection option.
    bool closeAnnounced() const { return closeAnnounced_; }
    bool malformed() const { return error_ != HttpStreamError::None; }
    HttpStreamError error() const { return error_; }
    // A response has begun (any byte of it arrived) and is not complete.
    bool midResponse() const;
    // finish() was called while a response was incomplete.
    bool truncated() const { return truncated_; }
    bool finished() const { return finished_; }
    // The first final response: the kept start of its body (keepBodyMax),
    // whether the body was longer than that, and its Content-Type value
    // (trimmed, at most kHttpContentTypeMax bytes).
    const std::string& body() const { return body_; }
    bool bodyCut() const { return bodyCut_; }
    const std::string& contentType() const { return contentType_; }

private:
    enum class State {
        StatusLine,
        Headers,
        Body,      // Content-Length bytes left in `left_`
        CloseBody, // to the end of the stream
        ChunkSize,
        ChunkData, // `left_` bytes of this chunk
        ChunkEnd,  // the line end after chunk data
        Trailers,
        AfterClose, // a "close" response is complete
        Stopped     // malformed or finished
    };

    bool lineState() const;
    void takeLine(const char*& p, size_t& n);
    void onLine(std::string_view line);
    void onStatusLine(std::string_view line);
    void onHeaderLine(std::string_view line);
    void applyField(std::string_view field);
    void onChunkSize(std::string_view line);
    void endOfHeaders();
    void takeBody(const char*& p, size_t& n);
    void completeResponse();
    void resetResponse();
    void fail(HttpStreamError e);

    HttpStreamOptions opt_;
    State state_ = State::StatusLine;
    HttpStreamError error_ = HttpStreamError::None;
    std::string line_;  // the line being read, without its LF
    std::string field_; // the field line waiting for a possible fold
    size_t sectionBytes_ = 0;
    uint64_t left_ = 0;

    // The response being read.
    int status_ = 0;
    bool haveLength_ = false;
    uint64_t length_ = 0;
    bool chunked_ = false;
    bool otherCoding_ = false;
    bool closeThis_ = false;
    bool isFirstFinal_ = false;

    uint64_t responses_ = 0;
    std::vector<int> statuses_;
    int firstStatus_ = 0;
    uint64_t bytesIn_ = 0;
    uint64_t bodyBytes_ = 0;
    uint64_t extraBytes_ = 0;
    bool closeAnnounced_ = false;
    bool truncated_ = false;
    bool finished_ = false;
    std::string body_;
    bool bodyCut_ = false;
    std::string contentType_;
};

} // namespace tv
