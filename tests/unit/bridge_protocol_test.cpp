#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "bridge/protocol.h"

namespace tv {
namespace {

// ---- jsonEscape / jsonQuote --------------------------------------------------

TEST(JsonEscape, ShortFormsAndUnicodeEscapes) {
    // Quote, backslash, TAB, U+0001 in that order.
    EXPECT_EQ(jsonEscape("\"\\\t\x01"), "\\\"\\\\\\t\\u0001");
    EXPECT_EQ(jsonQuote(""), "\"\"");
    EXPECT_EQ(jsonEscape("a\nb\rc"), "a\\nb\\rc");
    // No short forms for backspace and form feed; lower-case hex.
    EXPECT_EQ(jsonEscape("\b\f\x1b\x1f"), "\\u0008\\u000c\\u001b\\u001f");
    EXPECT_EQ(jsonEscape(std::string(1, '\0')), "\\u0000");
}

TEST(JsonEscape, CopiesEverythingElse) {
    EXPECT_EQ(jsonEscape("/ \x7f"), "/ \x7f");
    EXPECT_EQ(jsonEscape("Снимок ✓ 𝄞"), "Снимок ✓ 𝄞");
    EXPECT_EQ(jsonQuote("Tarnveil"), "\"Tarnveil\"");
}

TEST(JsonEscape, RepairsIllFormedUtf8) {
    // A lone continuation byte, a truncated sequence and an encoded surrogate.
    EXPECT_EQ(jsonEscape("a\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(jsonEscape("\xD0"), "\xEF\xBF\xBD");
    EXPECT_EQ(jsonEscape("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(jsonEscape("\"\xFF\t"), "\\\"\xEF\xBF\xBD\\t");
}

// ---- builders ----------------------------------------------------------------

TEST(Builders, FixedKeyOrderNoWhiteSpace) {
    EXPECT_EQ(buildDone(3, false), R"({"t":"done","run":3,"cancelled":false})");
    EXPECT_EQ(buildDone(-7, true), R"({"t":"done","run":-7,"cancelled":true})");
    EXPECT_EQ(buildFiles({}), R"({"t":"files","list":[]})");
    EXPECT_EQ(buildFiles({{"a.json", 0}, {"Б.JSON", 5000000000ULL}}),
              R"({"t":"files","list":[{"name":"a.json","size":0},{"name":"Б.JSON","size":5000000000}]})");
    EXPECT_EQ(buildSaved("x.json"), R"({"t":"saved","name":"x.json"})");
    EXPECT_EQ(buildFile("x.json", "{\"a\":1}\n"),
              R"({"t":"file","name":"x.json","data":"{\"a\":1}\n"})");
    EXPECT_EQ(buildMsg("Сканирование уже идёт"), R"({"t":"msg","text":"Сканирование уже идёт"})");
    EXPECT_EQ(buildHello("C:\\T\\scans"),
              R"({"t":"hello","project":"Tarnveil","author":"Brannick & Quillmoor",)"
              R"("version":"1.0.0","dir":"C:\\T\\scans"})");
}

TEST(Builders, ResCarriesEveryFieldInOrder) {
    ProbeResult r = makeProbeResult("h\"1", "");
    r.ip = "198.19.0.1";
    r.dns = "ok";
    r.dnsMs = 0;
    r.tcp = "ok";
    r.tcpMs = 12;
    r.tls = "ok";
    r.tlsMs = 2147483647;
    r.tlsDetail = "";
    r.cert = "ok.lab.test";
    r.certOk = true;
    r.http = "timeout";
    r.httpMs = -1;
    r.httpCode = 0;
    r.verdict = "partial";
    EXPECT_EQ(buildRes(-2147483647 - 1, 2999, r),
              R"({"t":"res","run":-2147483648,"idx":2999,"host":"h\"1","sni":"",)"
              R"("ip":"198.19.0.1","dns":"ok","dnsMs":0,"tcp":"ok","tcpMs":12,"tls":"ok",)"
              R"("tlsMs":2147483647,"tlsDetail":"","cert":"ok.lab.test","certOk":true,)"
              R"("http":"timeout","httpMs":-1,"httpCode":0,"verdict":"partial"})");
    // The index is 64-bit.
    EXPECT_NE(buildRes(1, 1ULL << 40, r).find(R"("idx":1099511627776,)"), std::string::npos);

    // The browser hellos' block follows the verdict only when a mode asked for it; a shape
    // that did not run is written as skip.
    r.hello.mode = HelloMode::All;
    r.hello.chrome = {State::Timeout, 1201, "no reply"};
    r.hello.firefox = {State::Ok, 3, "server hello"};
    const std::string all = buildRes(1, 0, r);
    EXPECT_EQ(all.substr(all.find(R"("verdict")")),
              R"("verdict":"partial","hello":"all","helloChrome":"timeout","helloChromeMs":1201,)"
              R"("helloChromeDetail":"no reply","helloFirefox":"ok","helloFirefoxMs":3,)"
              R"("helloFirefoxDetail":"server hello"})");
    r.hello = {HelloMode::Chrome, {State::Alert, 2, "alert 40 (handshake_failure)"}, {}};
    const std::string chrome = buildRes(1, 0, r);
    EXPECT_NE(chrome.find(R"("hello":"chrome","helloChrome":"alert","helloChromeMs":2,)"),
              std::string::npos);
    EXPECT_NE(chrome.find(R"("helloFirefox":"skip","helloFirefoxMs":-1,"helloFirefoxDetail":""})"),
              std::string::npos);
}

TEST(Builders, NetAndIpInfo) {
    NetCheckResult n{"dns", "Cloudflare 1.1.1.1", "timeout", "no \"reply\"", -1, ""};
    EXPECT_EQ(buildNet(4, n),
              R"({"t":"net","run":4,"group":"dns","name":"Cloudflare 1.1.1.1","state":"timeout",)"
              R"("detail":"no \"reply\"","ms":-1})");
    // The body stops at its first NUL; bad bytes are repaired.
    EXPECT_EQ(buildIpInfo(4, std::string("{\"ip\":\"1\"}\0tail", 15)),
              R"({"t":"ipinfo","run":4,"body":"{\"ip\":\"1\"}"})");
    EXPECT_EQ(buildIpInfo(4, ""), R"({"t":"ipinfo","run":4,"body":""})");
    EXPECT_EQ(buildIpInfo(4, "\xC3("), "{\"t\":\"ipinfo\",\"run\":4,\"body\":\"\xEF\xBF\xBD(\"}");
}

// ---- commands ----------------------------------------------------------------

TEST(CommandSplit, EveryTabCutsEmptyFieldsCount) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(splitCommand("list"), V{"list"});
    EXPECT_EQ(splitCommand("load\t"), (V{"load", ""}));
    EXPECT_EQ(splitCommand("a\t\tb\t"), (V{"a", "", "b", ""}));
    EXPECT_EQ(splitCommand(""), V{""});
    EXPECT_EQ(splitCommand("x\ny\tz"), (V{"x\ny", "z"}));
}

TEST(CommandSplit, RestKeepsTheTabsBetweenFields) {
    const std::string cmd = "save\tn.json\tpart1\tpart2\t\tend";
    const auto f = splitCommand(cmd);
    EXPECT_EQ(commandRest(cmd, f, 2), "part1\tpart2\t\tend");
    EXPECT_EQ(commandRest(cmd, f, 5), "end");
    EXPECT_EQ(commandRest(cmd, f, 6), "");
    const std::string copy = "copy\t";
    EXPECT_EQ(commandRest(copy, splitCommand(copy), 1), "");
}

TEST(ReadInt32, BehavesLikeWcstolBase10) {
    EXPECT_EQ(readInt32("12abc"), 12);
    EXPECT_EQ(readInt32("abc"), 0);
    EXPECT_EQ(readInt32(""), 0);
    EXPECT_EQ(readInt32("-"), 0);
    EXPECT_EQ(readInt32("+-1"), 0);
    EXPECT_EQ(readInt32("+42"), 42);
    EXPECT_EQ(readInt32("-42x"), -42);
    EXPECT_EQ(readInt32("0x1F"), 0);
    EXPECT_EQ(readInt32("007"), 7);
    EXPECT_EQ(readInt32("1 2"), 1);
    EXPECT_EQ(readInt32(" \t\n\v\f\r17"), 17);
    EXPECT_EQ(readInt32("\xC2\xA0" "5"), 5);        // U+00A0
    EXPECT_EQ(readInt32("\xE3\x80\x80" "-6"), -6);  // U+3000
    EXPECT_EQ(readInt32("\xE2\x80\x8B" "5"), 0);    // U+200B is no white space
    EXPECT_EQ(readInt32("\xEF\xBC\x95"), 0);        // full-width digit five: not a digit
}

TEST(ReadInt32, ClampsToThe32BitRange) {
    EXPECT_EQ(readInt32("99999999999"), 2147483647);
    EXPECT_EQ(readInt32("2147483647"), 2147483647);
    EXPECT_EQ(readInt32("2147483648"), 2147483647);
    EXPECT_EQ(readInt32("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(readInt32("-2147483649"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(readInt32(std::string(400, '9')), 2147483647);
    EXPECT_EQ(readInt32("-" + std::string(400, '9')), std::numeric_limits<int32_t>::min());
}

TEST(ReadFlag, OnlyExactOne) {
    EXPECT_TRUE(readFlag("1"));
    for (const char* off : {"0", "true", "", " 1", "1 ", "01", "11"})
        EXPECT_FALSE(readFlag(off)) << off;
}

// ---- white space and the job list -------------------------------------------

TEST(WhiteSpace, FixedTable) {
    for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2005,
                       0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000})
        EXPECT_TRUE(isWhiteSpace(c)) << std::hex << static_cast<uint32_t>(c);
    for (char32_t c : {0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x21, 0x7F, 0x84, 0xA1, 0x180E, 0x200B,
                       0x2060, 0xFEFF, 0x3001})
        EXPECT_FALSE(isWhiteSpace(c)) << std::hex << static_cast<uint32_t>(c);
    EXPECT_EQ(trimWhiteSpace("\xC2\x85 a b\xE3\x80\x80\r"), "a b");
    EXPECT_EQ(trimWhiteSpace(" \t "), "");
    // A trailing Cyrillic letter is no white space even though its last byte is 0xA0 / 0x85.
    EXPECT_EQ(trimWhiteSpace(" \xD0\xA0"), "\xD0\xA0"); // "Р"
    EXPECT_EQ(trimWhiteSpace("\xD1\x85 "), "\xD1\x85"); // "х"
}

TEST(JobList, TrimsSplitsAtFirstBarAndSkipsEmptyHosts) {
    const auto jobs = parseJobList("alpha\n\n  |x\n b | c|d \n");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].host, "alpha");
    EXPECT_EQ(jobs[0].sni, "alpha");
    EXPECT_EQ(jobs[1].host, "b");
    EXPECT_EQ(jobs[1].sni, "c|d");
}

TEST(JobList, LineEndsEmptySniAndUnicodeSpaces) {
    const auto jobs = parseJobList("a.ru|a.ru\r\n1.1.1.1|\r\n\xC2\xA0x.org\xE2\x80\x83|"
                                   "\xE3\x80\x80y.org\n\xC2\xA0\r\n|\n");
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].host, "a.ru");
    EXPECT_EQ(jobs[0].sni, "a.ru");
    EXPECT_EQ(jobs[1].host, "1.1.1.1");
    EXPECT_EQ(jobs[1].sni, "");
    EXPECT_EQ(jobs[2].host, "x.org");
    EXPECT_EQ(jobs[2].sni, "y.org");
    EXPECT_TRUE(parseJobList("").empty());
    EXPECT_TRUE(parseJobList("\n\n \n").empty());
}

TEST(JobList, StopsAtThreeThousandJobs) {
    std::string list;
    for (int i = 0; i < 3005; ++i)
        ((((list += "h") += std::to_string(i)) += ".test|s") += std::to_string(i)) += "\n";
    const auto jobs = parseJobList(list);
    ASSERT_EQ(jobs.size(), 3000u);
    EXPECT_EQ(jobs.front().host, "h0.test");
    EXPECT_EQ(jobs.back().host, "h2999.test");
    EXPECT_EQ(jobs.back().sni, "s2999");

    // Skipped lines take no number, so the limit counts jobs, not lines.
    std::string sparse;
    for (int i = 0; i < 3001; ++i)
        (sparse += "\n|nohost\nn") += std::to_string(i);
    const auto sj = parseJobList(sparse);
    ASSERT_EQ(sj.size(), 3000u);
    EXPECT_EQ(sj.back().host, "n2999");
}

TEST(PageCommands, BuildersPutEveryFieldWhereTheReaderLooks) {
    ScanRequest r;
    r.run = 7;
    r.mode = "dom\tains"; // a TAB would shift every later field
    r.timeoutMs = 4000;
    r.threads = 8;
    r.http = true;
    r.jobs = "a.ru|a.ru\nb\tc|d";
    const std::string scan = buildScanCommand(r);
    const auto f = splitCommand(scan);
    // Optional fields are written up to the last one that is not a default.
    ASSERT_EQ(f.size(), ScanField::count);
    EXPECT_EQ(f[0], kCmdScan);
    EXPECT_EQ(readInt32(f[ScanField::run]), 7);
    EXPECT_EQ(f[ScanField::mode], "dom ains");
    EXPECT_EQ(readInt32(f[ScanField::timeout]), 4000);
    EXPECT_EQ(readInt32(f[ScanField::threads]), 8);
    EXPECT_TRUE(readFlag(f[ScanField::http]));
    EXPECT_EQ(parseJobList(f[ScanField::jobs]).size(), 2u);
    r.xfer = true;
    const std::string xferCommand = buildScanCommand(r); // the views point into it
    const auto withXfer = splitCommand(xferCommand);
    ASSERT_EQ(withXfer.size(), ScanField::xfer + 1);
    EXPECT_TRUE(readFlag(withXfer[ScanField::xfer]));
    for (HelloMode m : {HelloMode::Lib, HelloMode::Chrome, HelloMode::Firefox, HelloMode::All}) {
        r.hello = m;
        EXPECT_EQ(parseHelloMode(fieldAt(splitCommand(buildScanCommand(r)), ScanField::hello)), m);
    }
    // A missing field, or a word outside the set, is today's handshake.
    for (const char* w : {"", "Chrome", "safari", "all "})
        EXPECT_EQ(parseHelloMode(w), HelloMode::Lib) << w;

    EXPECT_EQ(buildBasicsCommand(3, 3500), "basics\t3\t3500");
    // The text of "save" is taken whole, TABs and all.
    const std::string save = buildSaveCommand("n.json", "{\"a\":\"x\ty\"}");
    const auto sf = splitCommand(save);
    EXPECT_EQ(commandRest(save, sf, SaveField::text), "{\"a\":\"x\ty\"}");
    EXPECT_EQ(buildNameCommand(kCmdLoad, "n.json"), "load\tn.json");
}

} // namespace
} // namespace tv
