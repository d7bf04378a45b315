#include <gtest/gtest.h>

#include <string>

#include "probe/http_text.h"

namespace tv {
namespace {

TEST(HttpRequest, FixedHeadHostAndTail) {
    const std::string r = buildHttpRequest("example.com");
    const std::string head = "GET / HTTP/1.1\r\nHost: ";
    const std::string tail = "\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\n"
                             "Accept: */*\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(head.size(), 22u);
    EXPECT_EQ(tail.size(), 91u);
    EXPECT_EQ(r, head + "example.com" + tail);
    // An empty Host value leaves "Host: " with nothing after it.
    EXPECT_EQ(buildHttpRequest(""), head + tail);
    EXPECT_EQ(buildHttpRequest("пример.рф").size(), 22u + 17u + 91u); // UTF-8 bytes as given
}

TEST(HttpStatusLine, Matches) {
    struct Case {
        const char* text;
        int32_t code;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n", 200},
        {"HTTP/1.1 301 Moved Permanently\r\n", 301},
        {"HTTP/1.0 200 OK\r\n", 200},
        {"HTTP/1.1 404\r\n", 404},
        {"HTTP/1.1 503 Service Unavailable\r\n", 503},
        {"HTTP/ 1. 1  \t204\r\n", 204}, // numbers may be preceded by white space
        {"HTTP/1.1\r\n302", 302},       // ... including a line break
        {"HTTP/-1.+1 -7\r\n", -7},      // and a sign
        {"HTTP/1.1 0\r\n", 0},
        {"HTTP/1.1 2147483647\r\n", 2147483647},
    };
    for (const auto& c : cases) {
        int32_t code = 12345;
        EXPECT_TRUE(parseStatusLine(c.text, code)) << c.text;
        EXPECT_EQ(code, c.code) << c.text;
    }
}

TEST(HttpStatusLine, DoesNotMatch) {
    const std::string cases[] = {
        "HTTP/2 200\r\n",       // no minor version
        "HTTP/1.1 OK\r\n",      // no code
        "http/1.1 200 OK\r\n",  // the literal is case-sensitive
        " HTTP/1.1 200 OK\r\n", // and must start the text
        "HTTP/1.\r\n",
        "HTTP/1.1200\r\n", // the minor version takes every digit
        "HTTP/1.1 \r\n",
        "",
        "HTTP/1.1 2147483648\r\n", // beyond 32 bits
        "HTTP/1.1 99999999999999999999\r\n",
        std::string("HTTP/1.1\0 200 OK\r\n", 18), // only the text before a NUL counts
        "<html>HTTP/1.1 200 OK\r\n",
    };
    for (const auto& t : cases) {
        int32_t code = 12345;
        EXPECT_FALSE(parseStatusLine(t, code)) << t;
        EXPECT_EQ(code, 12345);
    }
}

} // namespace
} // namespace tv
