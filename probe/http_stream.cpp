#include "probe/http_stream.h"

#include <cstring>

namespace tv {
namespace {

bool isOws(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// RFC 9110 section 5.6.2: tchar.
bool isTokenChar(char c) {
    if (isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string_view trimOws(std::string_view s) {
    while (!s.empty() && isOws(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isOws(s.back()))
        s.remove_suffix(1);
    return s;
}

// Calls `each` with every trimmed element of a comma-separated list, empty
// ones included; stops early when it returns false.
template <typename F> bool forEachElement(std::string_view list, F each) {
    for (;;) {
        const size_t comma = list.find(',');
        if (!each(trimOws(list.substr(0, comma))))
            return false;
        if (comma == std::string_view::npos)
            return true;
        list.remove_prefix(comma + 1);
    }
}

// 1*DIGIT into 64 bits.
bool parseDecimal(std::string_view s, uint64_t& out) {
    if (s.empty())
        return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!isDigit(c))
            return false;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10)
            return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

int hexValue(char c) {
    if (isDigit(c))
        return c - '0';
    const char l = lower(c);
    if (l >= 'a' && l <= 'f')
        return l - 'a' + 10;
    return -1;
}

} // namespace

bool HttpStreamReader::lineState() const {
    return state_ == State::StatusLine || state_ == State::Headers || state_ == State::ChunkSize ||
           state_ == State::ChunkEnd || state_ == State::Trailers;
}

bool HttpStreamReader::midResponse() const {
    switch (state_) {
    case State::StatusLine:
        return !line_.empty() || sectionBytes_ > 0;
    case State::AfterClose:
    case State::Stopped:
        return false;
    default:
        return true;
    }
}

void HttpStreamReader::feed(const char* data, size_t len) {
    bytesIn_ += len;
    const char* p = data;
    size_t n = len;
    while (n > 0) {
        if (state_ == State::Stopped)
            return;
        if (state_ == State::AfterClose) {
            extraBytes_ += n;
            return;
        }
        if (lineState())
            takeLine(p, n);
        else
            takeBody(p, n);
    }
}

void HttpStreamReader::finish() {
    if (finished_)
        return;
    finished_ = true;
    if (state_ == State::CloseBody)
        completeResponse();
    else if (midResponse())
        truncated_ = true;
    state_ = State::Stopped;
}

// Appends bytes up to the next LF to `line_` and hands a complete line on.
// The bounds are checked before anything is appended, so a peer that never
// sends a line end costs at most one line of memory.
void HttpStreamReader::takeLine(const char*& p, size_t& n) {
    const void* lfAt = std::memchr(p, '\n', n);
    const size_t part = lfAt ? static_cast<size_t>(static_cast<const char*>(lfAt) - p) : n;
    const bool sectioned =
        state_ == State::StatusLine || state_ == State::Headers || state_ == State::Trailers;
    // +1: a CR before the LF is not part of the line.
    if (line_.size() + part > kHttpLineMax + 1) {
        fail(HttpStreamError::LineTooLong);
        return;
    }
    if (sectioned && sectionBytes_ + line_.size() + part + (lfAt ? 1 : 0) > kHttpHeaderSectionMax) {
        fail(HttpStreamError::HeaderTooLarge);
        return;
    }
    line_.append(p, part);
    p += part;
    n -= part;
    if (!lfAt)
        return;
    ++p;
    --n;
    if (sectioned)
        sectionBytes_ += line_.size() + 1;
    std::string_view line = line_;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > kHttpLineMax)
        fail(HttpStreamError::LineTooLong);
    else
        onLine(line);
    line_.clear();
}

void HttpStreamReader::onLine(std::string_view line) {
    switch (state_) {
    case State::StatusLine:
        onStatusLine(line);
        break;
    case State::Headers:
        onHeaderLine(line);
        break;
    case State::ChunkSize:
        onChunkSize(line);
        break;
    case State::ChunkEnd:
        if (line.empty())
            state_ = State::ChunkSize;
        else
            fail(HttpStreamError::ChunkEnd);
        break;
    case State::Trailers:
        // Trailer fields are not interpreted; the empty line ends the message.
        if (line.empty())
            completeResponse();
        break;
    default:
        break;
    }
}

// "HTTP/1." DIGIT SP 3DIGIT [SP reason]. Empty lines before it are tolerated
// (they count towards the section bound), as a server tolerates them before
// a request line.
void HttpStreamReader::onStatusLine(std::string_view line) {
    if (line.empty())
        return;
    constexpr std::string_view kPrefix = "HTTP/1.";
    if (line.size() < kPrefix.size() + 5 || line.substr(0, kPrefix.size()) != kPrefix ||
        !isDigit(line[7]) || !isOws(line[8])) {
        fail(HttpStreamError::StatusLine);
        return;
    }
    size_t i = 9;
    while (i < line.size() && isOws(line[i]))
        ++i;
    if (i + 3 > line.size() || !isDigit(line[i]) || !isDigit(line[i + 1]) ||
        !isDigit(line[i + 2]) || line[i] == '0' || (i + 3 < line.size() && !isOws(line[i + 3]))) {
        fail(HttpStreamError::StatusLine);
        return;
    }
    status_ = (line[i] - '0') * 100 + (line[i + 1] - '0') * 10 + (line[i + 2] - '0');
    state_ = State::Headers;
}

// A field is applied once the next line shows it is not folded further.
void HttpStreamReader::onHeaderLine(std::string_view line) {
    if (!line.empty() && isOws(line.front())) {
        if (field_.empty()) {
            fail(HttpStreamError::HeaderLine);
            return;
        }
        field_ += ' ';
        field_.append(trimOws(line));
        return;
    }
    if (!field_.empty()) {
        applyField(field_);
        field_.clear();
        if (malformed())
            return;
    }
    if (line.empty())
        endOfHeaders();
    else
        field_.assign(line);
}

void HttpStreamReader::applyField(std::string_view field) {
    const size_t colon = field.find(':');
    if (colon == 0 || colon == std::string_view::npos) {
        fail(HttpStreamError::HeaderLine);
        return;
    }
    const std::string_view name = field.substr(0, colon);
    for (char c : name) {
        if (!isTokenChar(c)) {
            fail(HttpStreamError::HeaderLine);
            return;
        }
    }
    const std::string_view value = trimOws(field.substr(colon + 1));
    if (equalsNoCase(name, "content-length")) {
        // A list of identical values is one length (RFC 9110 section 8.6).
        const bool ok = forEachElement(value, [&](std::string_view v) {
            uint64_t len = 0;
            if (!parseDecimal(v, len) || (haveLength_ && len != length_))
                return false;
            haveLength_ = true;
            length_ = len;
            return true;
        });
        if (!ok)
            fail(HttpStreamError::ContentLength);
    } else if (equalsNoCase(name, "transfer-encoding")) {
        // Codings apply in order over every field; only the last one decides.
        forEachElement(value, [&](std::string_view v) {
            v = trimOws(v.substr(0, v.find(';')));
            if (!v.empty()) {
                chunked_ = equalsNoCase(v, "chunked");
                otherCoding_ = !chunked_;
            }
            return true;
        });
    } else if (equalsNoCase(name, "connection")) {
        forEachElement(value, [&](std::string_view v) {
            if (equalsNoCase(v, "close"))
                closeThis_ = true;
            return true;
        });
    } else if (equalsNoCase(name, "content-type")) {
        if (status_ >= 200 && firstStatus_ == 0)
            contentType_.assign(value.substr(0, kHttpContentTypeMax));
    }
}

void HttpStreamReader::endOfHeaders() {
    if (status_ == 101) {
        fail(HttpStreamError::SwitchProtocol);
        return;
    }
    if (status_ < 200) {
        resetResponse();
        return;
    }
    if (firstStatus_ == 0) {
        firstStatus_ = status_;
        isFirstFinal_ = true;
    }
    if (closeThis_)
        closeAnnounced_ = true;
    if (status_ == 204 || status_ == 304 || opt_.headRequests) {
        completeResponse();
    } else if (chunked_) {
        state_ = State::ChunkSize;
    } else if (otherCoding_ || !haveLength_) {
        state_ = State::CloseBody;
    } else if (length_ == 0) {
        completeResponse();
    } else {
        left_ = length_;
        state_ = State::Body;
    }
}

// 1*HEXDIG [BWS ";" extensions]: the extensions are skipped unread.
void HttpStreamReader::onChunkSize(std::string_view line) {
    size_t i = 0;
    uint64_t size = 0;
    for (; i < line.size(); ++i) {
        const int h = hexValue(line[i]);
        if (h < 0)
            break;
        size = size * 16 + static_cast<uint64_t>(h);
        if (size > kHttpChunkMax) {
            fail(HttpStreamError::ChunkSize);
            return;
        }
    }
    const bool digits = i > 0;
    while (i < line.size() && isOws(line[i]))
        ++i;
    if (!digits || (i < line.size() && line[i] != ';')) {
        fail(HttpStreamError::ChunkSize);
        return;
    }
    if (size == 0) {
        sectionBytes_ = 0;
        state_ = State::Trailers;
    } else {
        left_ = size;
        state_ = State::ChunkData;
    }
}

void HttpStreamReader::takeBody(const char*& p, size_t& n) {
    size_t take = n;
    if (state_ != State::CloseBody && left_ < take)
        take = static_cast<size_t>(left_);
    bodyBytes_ += take;
    if (isFirstFinal_) {
        const size_t room = opt_.keepBodyMax - body_.size();
        if (take > room)
            bodyCut_ = true;
        body_.append(p, take < room ? take : room);
    }
    p += take;
    n -= take;
    if (state_ == State::CloseBody)
        return;
    left_ -= take;
    if (left_ > 0)
        return;
    if (state_ == State::ChunkData)
        state_ = State::ChunkEnd;
    else
        completeResponse();
}

void HttpStreamReader::completeResponse() {
    ++responses_;
    if (statuses_.size() < kHttpStatusKeep)
        statuses_.push_back(status_);
    if (closeThis_) {
        state_ = State::AfterClose;
        return;
    }
    resetResponse();
}

void HttpStreamReader::resetResponse() {
    state_ = State::StatusLine;
    sectionBytes_ = 0;
    field_.clear();
    left_ = 0;
    status_ = 0;
    haveLength_ = false;
    length_ = 0;
    chunked_ = false;
    otherCoding_ = false;
    closeThis_ = false;
    isFirstFinal_ = false;
}

void HttpStreamReader::fail(HttpStreamError e) {
    error_ = e;
    state_ = State::Stopped;
}

} // namespace tv
