// Saved snapshots read back by the front: the report's lines and the
// comparison's tables, for entries that carry every optional finding.
#include <gtest/gtest.h>

#include "base/identity.h"
#include "cli/history.h"

namespace tv::cli {
namespace {

Json parse(const std::string& s) {
    auto j = parseJson(s);
    EXPECT_TRUE(j) << s;
    return j ? *j : Json{};
}

// Domains with a hello token, a frozen transfer, disagreeing tries and a
// swapped DNS answer; a matrix with no SNI, a made-up name and a cell left
// out; basics with an intercepted resolver.
const char* const kA = R"({"v":1,"created":"2026-12-09T10:15:00.123Z","label":"утро",
 "status":{"k":"wl","txt":"БЕЛЫЙ СПИСОК"},
 "domains":[
  {"host":"ya.ru","group":"ru","verdict":"pass","ip":"77.88.55.242","dns":"ok","tcp":"ok","tls":"ok",
   "http":"ok","httpCode":200,"tlsMs":12,"cert":"ya.ru","certOk":true,"xfer":"frozen","down":"frozen",
   "downBytes":16384,"downKbps":-1,"up":"ok","upBytes":65536,"upKbps":900,
   "hello":"all","helloChrome":"timeout","helloFirefox":"ok","tries":3,"passes":2},
  {"host":"google.com","group":"world","verdict":"dpi","ip":"","dns":"ok","tcp":"ok","tls":"reset",
   "http":"skip","httpCode":0,"tlsMs":-1,"dnsSpoof":"yes","dnsGenuine":"198.19.1.7","dnsVia":"DoH"}],
 "matrix":{"ips":["1.1.1.1"],"snis":["-","qwertyuiop.com","vk.com"],"rand":"qwertyuiop.com","cells":[
  {"ip":"1.1.1.1","sni":"","verdict":"pass","tcp":"ok","tls":"ok","tlsMs":5,"xfer":"slow","down":"slow",
   "downBytes":65536,"downKbps":140,"up":"ok","upBytes":65536,"upKbps":800},
  {"ip":"1.1.1.1","sni":"qwertyuiop.com","verdict":"dpi","tcp":"ok","tls":"reset","tlsMs":-1,
   "tries":2,"passes":1}]},
 "basics":[{"t":"net","group":"DNS","name":"UDP 8.8.8.8","state":"ok","ms":3,"detail":"перехват",
   "intercept":"yes"},{"t":"net","group":"TCP:443","name":"yandex.ru","state":"timeout","ms":-1,"detail":""}],
 "ipinfo":{"ip":"203.0.113.5","isp":"Lab","as":"AS64500","city":"Town"}})";

TEST(SnapshotReport, EveryFindingInThePagesWords) {
    const std::string r = snapshotReport(parse(kA), "09.12.2026, 13:15:00");
    EXPECT_EQ(r,
              "Tarnveil " + std::string(kVersion) + " | 09.12.2026, 13:15:00 | утро\n"
              "Статус: БЕЛЫЙ СПИСОК\n"
              "Выход: 203.0.113.5 | Lab | AS64500 | Town\n"
              "\n== Домены ==\n"
              "[ru] ya.ru -> ПРОХОДИТ (ip 77.88.55.242, dns ok, tcp ok, tls ok 12ms, http 200, "
              "hello L+C-F+, 16–20 КБ: ЗАМОРОЗКА ↓≈16 КБ, попыток 2/3) НЕСТАБИЛЬНО\n"
              "[world] google.com -> DPI / СБРОС (ip -, dns ok, tcp ok, tls reset) "
              "[подмена DNS, настоящий адрес 198.19.1.7, DoH]\n"
              "Отпечаток: L — библиотека, C — Chrome, F — Firefox; + прошёл, - срезан, ? неясно\n"
              "\n== IP x SNI ==\n"
              "1.1.1.1: noSNI=OK/slow ?qwertyuiop.com=DPI~1/2 vk.com=?\n"
              "~k/N: попытки расходятся, прошло k из N\n"
              "\n== Базовый тест ==\n"
              "DNS | UDP 8.8.8.8 -> ok 3ms (перехват)\n"
              "TCP:443 | yandex.ru -> timeout\n"
              "Перехват UDP/53: UDP 8.8.8.8\n");
    // What a snapshot lacks is left out, not made up.
    EXPECT_EQ(snapshotReport(parse(R"({"ipinfo":{"error":true}})"), "?"),
              "Tarnveil " + std::string(kVersion) + " | ?\nСтатус: ?\n"
              "Выход: данные недоступны (ip-api.com)\n");
}

TEST(SnapshotCompare, ChangedRowsOnlyAndTheFindingTables) {
    const Json a = parse(kA);
    // B: ya.ru blocked now, google.com gone, a new host; the cell's made-up
    // name differs but reads as the same "?" row; the transfer unfrozen.
    const Json b = parse(R"({"created":"x","status":{"txt":"ЗАКРЫТО"},"domains":[
      {"host":"ya.ru","group":"ru","verdict":"blocked","xfer":"ok","down":"ok","up":"ok"},
      {"host":"vk.com","group":"ru","verdict":"pass"}],
     "matrix":{"ips":["1.1.1.1"],"snis":["-","zzzzzzzzzz.net"],"rand":"zzzzzzzzzz.net","cells":[
      {"ip":"1.1.1.1","sni":"","verdict":"pass","xfer":"slow","down":"slow","downKbps":140},
      {"ip":"1.1.1.1","sni":"zzzzzzzzzz.net","verdict":"dpi"}]}})");
    const std::string c = compareReport(a, "a.json", "09.12.2026, 13:15:00", b, "b.json", "?");
    const auto has = [&](const std::string& s) { return c.find(s) != std::string::npos; };
    EXPECT_EQ(c.rfind("A: БЕЛЫЙ СПИСОК\n   a.json · 09.12.2026, 13:15:00 · утро\nB: ЗАКРЫТО\n   b.json · ?\n",
                      0),
              0u)
        << c;
    EXPECT_TRUE(has("Домены: изменилось 3 из 3\n")) << c;
    EXPECT_TRUE(has("ya.ru       ПРОХОДИТ     →  БЛОК\n")) << c;
    EXPECT_TRUE(has("google.com  DPI / СБРОС  →  …\n")) << c;
    EXPECT_TRUE(has("vk.com      …            →  ПРОХОДИТ\n")) << c;
    EXPECT_TRUE(has("IP × SNI: изменилось 0 из 2\nБез изменений.\n")) << c;
    // Rows tested in both: ya.ru changed, the no-SNI cell did not.
    EXPECT_TRUE(has("Тест 16–20 КБ: изменилось 1 из 2\n")) << c;
    EXPECT_TRUE(has("ЗАМОРОЗКА ↓≈16 КБ  →  64 КБ ✓\n")) << c;
    EXPECT_TRUE(has("Отпечаток TLS: изменилось 1 из 1\n")) << c;
    EXPECT_TRUE(has("Повторы (прошло из попыток): изменилось 2 из 2\n")) << c;
    EXPECT_TRUE(has("Подмена DNS: изменилось 1 из 1\n")) << c;
    EXPECT_TRUE(has("Перехват UDP/53: изменилось 1 из 1\n")) << c; // A's only: B never ran basics
    // Without findings on either side, only the two verdict tables.
    const std::string plain = compareReport(b, "b", "?", b, "b", "?");
    EXPECT_EQ(plain.find("Отпечаток"), std::string::npos);
    EXPECT_EQ(plain.find("Подмена"), std::string::npos);
    EXPECT_EQ(plain.find("Тест 16–20 КБ"), std::string::npos);
}

TEST(SnapshotTime, IsoForms) {
    EXPECT_EQ(parseIsoTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseIsoTime("2026-12-09T10:15:00.123Z"), 1796811300);
    EXPECT_EQ(parseIsoTime("2026-12-09T13:15:00+03:00"), 1796811300);
    EXPECT_EQ(parseIsoTime("2024-02-29T00:00:00Z"), 1709164800);
    for (const char* bad : {"", "x", "2026-12-09", "2026-12-09T10:15:00", "2026-13-09T10:15:00Z",
                            "2026-12-09T10:15:00.Z", "2026-12-09T10:15:00Zjunk"})
        EXPECT_FALSE(parseIsoTime(bad)) << bad;
}

} // namespace
} // namespace tv::cli
