#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/http_requests.h"
#include "probe/http_stream.h"

namespace tv {
namespace {

struct Seen {
    uint64_t responses, bytesIn, bodyBytes, extra;
    std::vector<int> statuses;
    bool close, malformed, mid;
    bool operator==(const Seen&) const = default;
};

Seen seen(const HttpStreamReader& r) {
    return {r.responses(), r.bytesIn(),        r.bodyBytes(), r.extraBytes(),
            r.statuses(),  r.closeAnnounced(), r.malformed(), r.midResponse()};
}

// Six responses as a server would pipeline them, with an interim 100 first,
// names in odd case, chunk extensions and trailers. Bodies: 5 + 3+10 + 0 + 0
// + 0 + 4 bytes; the last one says close, and 7 stray bytes follow it.
const std::string kPipelined =
    "HTTP/1.1 100 Continue\r\n\r\n"
    "HTTP/1.1 200 OK\r\ncontent-LENGTH: 5\r\n\r\nhello"
    "HTTP/1.1 200 OK\r\nTRANSFER-encoding: gzip, Chunked\r\nContent-Length: 99\r\n\r\n"
    "3;name=\"v;x\"\r\nabc\r\n00a \t; ext\r\n0123456789\r\n0\r\nX-Trailer: 1\r\nY: 2\r\n\r\n"
    "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n"
    "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n"
    "HTTP/1.1 200\nContent-Length: 0, 0\n\n"
    "HTTP/1.1 404 Not Found\r\nConnection: keep-alive,\r\n  close\r\nContent-Length: 4\r\n\r\n"
    "gone"
    "HTTP/1.";

TEST(HttpStream, PipelinedResponsesAtEverySplit) {
    HttpStreamReader whole;
    whole.feed(kPipelined);
    const Seen want{6,    kPipelined.size(), 22, 7, {200, 200, 204, 304, 200, 404}, true, false,
                    false};
    EXPECT_EQ(seen(whole), want);
    EXPECT_EQ(whole.firstStatus(), 200);

    for (size_t cut = 0; cut <= kPipelined.size(); ++cut) {
        HttpStreamReader r;
        r.feed(kPipelined.substr(0, cut));
        r.feed(kPipelined.substr(cut));
        ASSERT_EQ(seen(r), want) << "cut at " << cut;
    }
    HttpStreamReader bytewise;
    for (char c : kPipelined)
        bytewise.feed(&c, 1);
    EXPECT_EQ(seen(bytewise), want);
}

TEST(HttpStream, BodiesThatRunToTheEnd) {
    // No length (HTTP/1.0 style), and a coding other than chunked, which
    // overrides Content-Length: both end only with the stream.
    for (const std::string head :
         {"HTTP/1.0 200 OK\r\nServer: x\r\n\r\n", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n"
                                                  "Content-Length: 2\r\n\r\n"}) {
        HttpStreamReader r;
        r.feed(head + "0123456789");
        EXPECT_EQ(r.responses(), 0u);
        EXPECT_TRUE(r.midResponse());
        r.finish();
        EXPECT_EQ(r.responses(), 1u) << head;
        EXPECT_EQ(r.bodyBytes(), 10u);
        EXPECT_FALSE(r.truncated());
    }
    // A length-delimited body cut short is not a response.
    HttpStreamReader cut;
    cut.feed("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234");
    cut.finish();
    EXPECT_EQ(cut.responses(), 0u);
    EXPECT_TRUE(cut.truncated());
    EXPECT_EQ(cut.firstStatus(), 200);
    // Nothing at all, or a clean end after a response, is not truncated.
    HttpStreamReader none;
    none.finish();
    EXPECT_FALSE(none.truncated());
}

TEST(HttpStream, HeadResponsesAndKeptBody) {
    HttpStreamReader head(HttpStreamOptions{true, 0});
    head.feed("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n"
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    EXPECT_EQ(head.responses(), 2u);
    EXPECT_EQ(head.bodyBytes(), 0u);

    const std::string two = "HTTP/1.1 103 Early Hints\r\nContent-Type: text/html\r\n\r\n"
                            "HTTP/1.1 200 OK\r\nContent-Type:  application/dns-message \r\n"
                            "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n"
                            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nxyz";
    HttpStreamReader all(HttpStreamOptions{false, 100});
    all.feed(two);
    EXPECT_EQ(all.body(), "abcdefg"); // the first final response only
    EXPECT_FALSE(all.bodyCut());
    EXPECT_EQ(all.contentType(), "application/dns-message");
    HttpStreamReader some(HttpStreamOptions{false, 5});
    for (char c : two)
        some.feed(&c, 1);
    EXPECT_EQ(some.body(), "abcde");
    EXPECT_TRUE(some.bodyCut());
    EXPECT_EQ(some.responses(), 2u);
}

TEST(HttpStream, MalformedStopsParsingButCountsBytes) {
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const std::string line(kHttpLineMax - 3, 'v'); // "X: " + line is exactly the limit
    std::string section = ok;                      // a header section of exactly the limit
    while (section.size() + 15 <= kHttpHeaderSectionMax - 2)
        section += "X: 12345\r\n";
    section += "Y: " + std::string(kHttpHeaderSectionMax - 2 - section.size() - 5, 'y') + "\r\n";
    ASSERT_EQ(section.size() + 2, kHttpHeaderSectionMax);
    struct Case {
        std::string text;
        HttpStreamError error;
    } cases[] = {
        {ok + "X: " + line + "\r\n\r\n", HttpStreamError::None},
        {ok + "X: " + line + "v\r\n\r\n", HttpStreamError::LineTooLong},
        {ok + std::string(100000, 'x'), HttpStreamError::LineTooLong},
        {section + "\r\n", HttpStreamError::None},
        {section + "Z: 1\r\n\r\n", HttpStreamError::HeaderTooLarge},
        {std::string(70000, '\n'), HttpStreamError::HeaderTooLarge},
        {ok + "Content-Length: 18446744073709551615\r\n\r\n", HttpStreamError::None},
        {ok + "Content-Length: 18446744073709551616\r\n\r\n", HttpStreamError::ContentLength},
        {ok + "Content-Length: 5, 6\r\n\r\n", HttpStreamError::ContentLength},
        {ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", HttpStreamError::ContentLength},
        {ok + "Content-Length: -1\r\n\r\n", HttpStreamError::ContentLength},
        {ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", HttpStreamError::ChunkSize},
        {ok + "Transfer-Encoding: chunked\r\n\r\n;x\r\n", HttpStreamError::ChunkSize},
        {ok + "Transfer-Encoding: chunked\r\n\r\n10000000001\r\n", HttpStreamError::ChunkSize},
        {ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n", HttpStreamError::ChunkEnd},
        {"HTTP/2 200 OK\r\n\r\n", HttpStreamError::StatusLine},
        {"HTTP/1.1 20 OK\r\n\r\n", HttpStreamError::StatusLine},
        {"HTTP/1.1 2000\r\n\r\n", HttpStreamError::StatusLine},
        {"<html>\r\n", HttpStreamError::StatusLine},
        {ok + "NoColon\r\n\r\n", HttpStreamError::HeaderLine},
        {ok + "Bad Name: 1\r\n\r\n", HttpStreamError::HeaderLine},
        {ok + " folded: 1\r\n\r\n", HttpStreamError::HeaderLine},
        {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\n",
         HttpStreamError::SwitchProtocol},
    };
    for (const auto& c : cases) {
        HttpStreamReader r;
        r.feed(c.text);
        r.feed("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(r.error(), c.error) << c.text.substr(0, 80);
        EXPECT_EQ(r.bytesIn(), c.text.size() + 38);
        if (c.error != HttpStreamError::None) {
            EXPECT_EQ(r.responses(), 0u) << c.text.substr(0, 80);
        }
    }
}

TEST(HttpRequests, KeepAliveGetsAndUploadHead) {
    const std::string ua = "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\n";
    const std::string get = "GET / HTTP/1.1\r\nHost: a.test\r\n" + ua + "Accept: */*\r\n";
    EXPECT_EQ(buildPipelinedGets("a.test", 3, true), get + "Connection: keep-alive\r\n\r\n" + get +
                                                         "Connection: keep-alive\r\n\r\n" + get +
                                                         "Connection: close\r\n\r\n");
    EXPECT_EQ(buildPipelinedGets("a.test", 1, false), get + "Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(buildPipelinedGets("a.test", 0, true), "");
    EXPECT_EQ(buildUploadHead("a.test", 10000000000ull, false),
              "POST / HTTP/1.1\r\nHost: a.test\r\n" + ua +
                  "Accept: */*\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Length: 10000000000\r\nConnection: keep-alive\r\n\r\n");
}

TEST(HttpRequests, UploadFillerIsStableAndDoesNotCompress) {
    std::string whole, pieces, other;
    UploadFiller(7).append(whole, 65536);
    UploadFiller p(7);
    for (size_t n = 1; pieces.size() < 65536; n = n * 3 % 1001 + 1)
        p.append(pieces, std::min<size_t>(n, 65536 - pieces.size()));
    EXPECT_EQ(pieces, whole);
    UploadFiller(8).append(other, 65536);
    EXPECT_NE(other, whole);
    // Every byte value near its share: no long runs for a compressor to take.
    std::vector<int> hist(256);
    for (unsigned char c : whole)
        ++hist[c];
    for (int count : hist)
        EXPECT_TRUE(count > 128 && count < 384) << count;
}

} // namespace
} // namespace tv
