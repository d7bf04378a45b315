#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/paths.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

fs::path tempLog(const char* name) {
    const fs::path p = fs::temp_directory_path() / name;
    fs::remove(p);
    return p;
}

TEST(LogLine, TimestampFormat) {
    LocalTime t{2026, 3, 5, 9, 7, 3};
    EXPECT_EQ(formatLogTimestamp(t), "05.03.2026 09:07:03");
    LocalTime late{2026, 12, 31, 23, 59, 59};
    EXPECT_EQ(formatLogTimestamp(late), "31.12.2026 23:59:59");
}

TEST(LogLine, MessageIsWrittenLiterally) {
    LocalTime t{2026, 3, 5, 9, 7, 3};
    const std::string line = formatLogFileLine(t, "100% %s %d %n");
    EXPECT_EQ(line, "[05.03.2026 09:07:03] 100% %s %d %n" + std::string(kLogLineEnd));
}

TEST(LogLine, ControlsFromOutsideStayOnOneInertLine) {
    LocalTime t{2026, 3, 5, 9, 7, 3};
    const std::string line =
        formatLogFileLine(t, "cert \x1b]0;t\x07\x1b[2J\r\nfake \xE2\x80\xAE\xFF");
    EXPECT_EQ(line, "[05.03.2026 09:07:03] cert \\x1b]0;t\\x07\\x1b[2J\\x0d\\x0afake "
                    "\\u202e\xEF\xBF\xBD" +
                        std::string(kLogLineEnd));
}

TEST(LogLine, LineEndIsThePlatforms) {
#ifdef _WIN32
    EXPECT_EQ(kLogLineEnd, "\r\n");
#else
    EXPECT_EQ(kLogLineEnd, "\n");
#endif
}

TEST(LogFile, ByteOrderMarkOnlyOnAnEmptyFile) {
    const fs::path p = tempLog("tv_log_bom.log");
    ASSERT_TRUE(appendLogFileLine(p.string(), "first\n"));
    ASSERT_TRUE(appendLogFileLine(p.string(), "second\n"));
    EXPECT_EQ(readAll(p), "\xEF\xBB\xBF" "first\nsecond\n");

    // An existing file of length zero counts as empty.
    { std::ofstream trunc(p, std::ios::binary | std::ios::trunc); }
    ASSERT_TRUE(appendLogFileLine(p.string(), "again\n"));
    EXPECT_EQ(readAll(p), "\xEF\xBB\xBF" "again\n");

    // A file with content gets no mark, even if it never had one.
    { std::ofstream plain(p, std::ios::binary | std::ios::trunc); plain << "x\n"; }
    ASSERT_TRUE(appendLogFileLine(p.string(), "y\n"));
    EXPECT_EQ(readAll(p), "x\ny\n");
    fs::remove(p);
}

TEST(LogFile, CyrillicIsStoredAsUtf8) {
    const fs::path p = tempLog("tv_log_cyr.log");
    LocalTime t{2026, 3, 5, 9, 7, 3};
    ASSERT_TRUE(appendLogFileLine(p.string(), formatLogFileLine(t, "=== ВЫХОД ===")));
    const std::string s = readAll(p);
    EXPECT_NE(s.find("\xD0\x92\xD0\xAB\xD0\xA5\xD0\x9E\xD0\x94"), std::string::npos); // ВЫХОД
    fs::remove(p);
}

TEST(LogFile, UnopenablePathFailsQuietly) {
    EXPECT_FALSE(appendLogFileLine("/nonexistent-dir-tv/x/probe.log", "line\n"));
}

TEST(LogFile, LinesFromManyThreadsComeOutWhole) {
    // logLine writes beside the test program; read back only our own lines.
    const std::string path = joinPath(executableDir(), "probe.log");
    fs::remove(path);
    setLogEcho(false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                logLine("whole-line-test t" + std::to_string(t) + " i" + std::to_string(i) +
                        " " + std::string(200, 'x'));
        });
    for (auto& th : threads)
        th.join();
    setLogEcho(true);
    std::ifstream in(path, std::ios::binary);
    const std::regex whole(R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\] whole-line-test t\d i\d+ x{200})");
    std::string line;
    int seen = 0;
    while (std::getline(in, line)) {
        if (line.find("whole-line-test") == std::string::npos)
            continue;
        ++seen;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_EQ(seen, 400);
}

} // namespace
} // namespace tv
