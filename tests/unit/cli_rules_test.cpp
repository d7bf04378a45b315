#include <gtest/gtest.h>

#include "cli/front.h"
#include "cli/json.h"
#include "cli/render.h"
#include "cli/snapshot.h"
#include "cli/rules.h"

namespace tv::cli {
namespace {

std::vector<DomainRow> rowsOf(const std::string& group, int pass, int fail) {
    std::vector<DomainRow> rows;
    for (int i = 0; i < pass; ++i)
        rows.push_back({"p" + std::to_string(i), group, std::string("pass")});
    for (int i = 0; i < fail; ++i)
        rows.push_back({"f" + std::to_string(i), group, std::string("dpi")});
    return rows;
}

std::vector<DomainRow> operator+(std::vector<DomainRow> a, const std::vector<DomainRow>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(DomainList, GroupsCommentsCaseAndDuplicates) {
    const auto rows = parseDomainList(
        "Top.Example\n"
        "  # no group here\n"
        "# [World] control\n"
        "\tGoogle.COM  \r\n"
        "\n"
        "google.com\n"
        "# [] empty brackets keep the group\n"
        "a#b.com\n"
        "# [ru_1] x [cloud]\n"
        "ya.ru\n");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].host, "top.example");
    EXPECT_EQ(rows[0].group, "custom");
    EXPECT_EQ(rows[1].host, "google.com");
    EXPECT_EQ(rows[1].group, "world");
    EXPECT_EQ(rows[2].host, "google.com"); // duplicates stay
    EXPECT_EQ(rows[3].host, "a#b.com");    // '#' inside a host line is part of it
    EXPECT_EQ(rows[3].group, "world");
    EXPECT_EQ(rows[4].group, "ru_1"); // the first bracketed id wins
}

TEST(DomainList, OnlyCommentsGiveNoRows) {
    EXPECT_TRUE(parseDomainList("# [ru] x\n\n   \n# y\n").empty());
}

TEST(Status, Thresholds) {
    EXPECT_EQ(calcStatus({}).k, "unk");
    EXPECT_EQ(calcStatus({}).txt, "Статус неизвестен — запусти скан");
    // world 3 of 5 is open (0.6)
    auto s = calcStatus(rowsOf("world", 3, 2));
    EXPECT_EQ(s.k, "open");
    EXPECT_EQ(s.txt, "ОТКРЫТО · мир 3/5");
    // world 1 of 4 is the allow-list (0.25), with the ru share
    s = calcStatus(rowsOf("world", 1, 3) + rowsOf("ru", 17, 0));
    EXPECT_EQ(s.k, "wl");
    EXPECT_EQ(s.txt, "БЕЛЫЕ СПИСКИ · мир 1/4 · ru 17/17");
    s = calcStatus(rowsOf("world", 1, 2));
    EXPECT_EQ(s.k, "part");
    EXPECT_EQ(s.txt, "ЧАСТИЧНО · мир 1/3");
    // no world row answered: overall 4 of 5 is open, 3 of 4 partial
    s = calcStatus(rowsOf("ru", 4, 1));
    EXPECT_EQ(s.txt, "ОТКРЫТО · 4/5");
    s = calcStatus(rowsOf("ru", 3, 1));
    EXPECT_EQ(s.k, "part");
    EXPECT_EQ(s.txt, "ЧАСТИЧНО · 3/4");
    // nothing passing, whatever the groups
    s = calcStatus(rowsOf("world", 0, 3) + rowsOf("ru", 0, 3));
    EXPECT_EQ(s.k, "dead");
    EXPECT_EQ(s.txt, "СЕТИ НЕТ или режется всё");
}

TEST(Status, PendingRowsDoNotCountAndReachPasses) {
    auto rows = rowsOf("world", 0, 0);
    rows.push_back({"a", "world", std::string("reach")});
    rows.push_back({"b", "world", std::nullopt});
    const auto s = calcStatus(rows);
    EXPECT_EQ(s.txt, "ОТКРЫТО · мир 1/1");
}

std::map<std::string, MatrixCell> cellsOf(
    std::initializer_list<std::tuple<std::string, std::string, std::string>> c) {
    std::map<std::string, MatrixCell> m;
    for (const auto& [key, verdict, tcp] : c)
        m[key] = {verdict, tcp, {}, {}};
    return m;
}

TEST(MatrixNotes, RulesInOrder) {
    const std::set<std::string> white = {"ya.ru", "vk.com"};
    const std::vector<std::string> snis = {"-", "ya.ru", "vk.com", "google.com"};
    // 1: TCP never passes
    auto notes = analyzeMatrix({"9.9.9.9"}, snis,
                               cellsOf({{"9.9.9.9|", "blocked", "timeout"},
                                        {"9.9.9.9|ya.ru", "blocked", "timeout"}}),
                               white);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].cls, "note bad");
    EXPECT_NE(notes[0].text.find("адрес отрезан"), std::string::npos);
    // 2: white names pass, foreign cut
    notes = analyzeMatrix({"1.1.1.1"}, snis,
                          cellsOf({{"1.1.1.1|ya.ru", "pass", "ok"},
                                   {"1.1.1.1|vk.com", "dpi", "ok"},
                                   {"1.1.1.1|google.com", "dpi", "ok"}}),
                          white);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].cls, "note good");
    EXPECT_EQ(notes[0].text.rfind("Фильтр по <b>SNI</b>: белые имена проходят (1/2)", 0), 0u);
    // 3: both kinds pass
    notes = analyzeMatrix({"1.1.1.1"}, snis,
                          cellsOf({{"1.1.1.1|ya.ru", "pass", "ok"},
                                   {"1.1.1.1|google.com", "reach", "ok"},
                                   {"1.1.1.1|", "dpi", "ok"}}),
                          white);
    EXPECT_EQ(notes[0].text, "Пускает и белые, и чужие SNI (1/1 белых, 1/1 чужих). SNI не "
                             "фильтруется — IP белый или фильтр сейчас снят.");
    // 4: white cut, foreign pass
    notes = analyzeMatrix({"1.1.1.1"}, snis,
                          cellsOf({{"1.1.1.1|ya.ru", "dpi", "ok"},
                                   {"1.1.1.1|google.com", "pass", "ok"}}),
                          white);
    EXPECT_EQ(notes[0].cls, "note warn");
    // 5: TLS cut under every name; the no-SNI handshake decides the wording
    notes = analyzeMatrix({"1.1.1.1"}, snis,
                          cellsOf({{"1.1.1.1|ya.ru", "dpi", "ok"}, {"1.1.1.1|", "pass", "ok"}}),
                          white);
    EXPECT_NE(notes[0].text.find("даже без SNI проходит"), std::string::npos);
    notes = analyzeMatrix({"1.1.1.1"}, {"-"}, cellsOf({{"1.1.1.1|", "dpi", "ok"}}), white);
    EXPECT_NE(notes[0].text.find("без SNI тоже нет"), std::string::npos);
}

TEST(MatrixNotes, EverythingPassingPutsTheLiftedNoteFirst) {
    const std::set<std::string> white = {"ya.ru"};
    const auto notes = analyzeMatrix({"1.1.1.1", "8.8.8.8", "7.7.7.7"}, {"ya.ru", "google.com"},
                                     cellsOf({{"1.1.1.1|ya.ru", "pass", "ok"},
                                              {"1.1.1.1|google.com", "pass", "ok"},
                                              {"8.8.8.8|ya.ru", "reach", "ok"}}),
                                     white);
    ASSERT_EQ(notes.size(), 3u); // 7.7.7.7 had no result: no note
    EXPECT_EQ(notes[0].ip, "");
    EXPECT_NE(notes[0].text.find("<b>сняты</b>"), std::string::npos);
    EXPECT_EQ(notes[1].ip, "1.1.1.1");
    EXPECT_EQ(notes[2].ip, "8.8.8.8");
}

TEST(MatrixLines, CommentsAndBlanks) {
    const auto lines = parseMatrixLines("# head\n1.1.1.1   # cf\n\n  -  \n8.8.8.8#x\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"1.1.1.1", "-", "8.8.8.8"}));
}

TEST(Snapshot, TagRule) {
    EXPECT_EQ(snapshotTag("base"), "base");
    EXPECT_EQ(snapshotTag("vpn off"), "vpn_off");
    EXPECT_EQ(snapshotTag("a /b"), "a_b");
    EXPECT_EQ(snapshotTag("Тест"), "");
    EXPECT_EQ(snapshotTag("__x__"), "x");
    EXPECT_EQ(snapshotTag(std::string(30, 'a')), std::string(24, 'a'));
}

TEST(Snapshot, KeyOrderAndIpInfo) {
    const auto res = parseJson(R"({"t":"res","run":1,"idx":0,"host":"ya.ru","sni":"ya.ru",)"
                               R"("ip":"198.18.0.5","dns":"ok","dnsMs":1,"tcp":"ok","tcpMs":2,)"
                               R"("tls":"ok","tlsMs":3,"tlsDetail":"","cert":"ya.ru",)"
                               R"("certOk":true,"http":"ok","httpMs":4,"httpCode":200,)"
                               R"("verdict":"pass"})");
    ASSERT_TRUE(res);
    const std::string entry = snapshotDomainEntry("ya.ru", "ru", *res);
    EXPECT_EQ(entry, R"({"host":"ya.ru","group":"ru","verdict":"pass","ip":"198.18.0.5",)"
                     R"("dns":"ok","tcp":"ok","tls":"ok","http":"ok","httpCode":200,"tlsMs":3,)"
                     R"("cert":"ya.ru","certOk":true})");
    const std::string snap = snapshotText("2025-01-31T09:42:05.123Z", "base",
                                          {"open", "ОТКРЫТО · 1/1"}, {entry}, {}, {}, {}, {},
                                          snapshotIpInfo(""));
    EXPECT_EQ(snap.rfind(R"({"v":1,"created":"2025-01-31T09:42:05.123Z","label":"base",)"
                         R"("status":{"k":"open","txt":"ОТКРЫТО · 1/1"},"domains":[)",
                         0),
              0u);
    EXPECT_NE(snap.find(R"("matrix":{"ips":[],"snis":[],"cells":[]},"basics":[],)"
                        R"("ipinfo":{"error":true}})"),
              std::string::npos);
    EXPECT_TRUE(parseJson(snap));
    EXPECT_EQ(snapshotIpInfo(R"({"status":"success","query":"1.2.3.4","isp":"X","city":"M"})"),
              R"({"ip":"1.2.3.4","isp":"X","city":"M"})");
    EXPECT_EQ(snapshotIpInfo(R"({"status":"fail","message":"private range"})"),
              R"({"error":true})");
}

TEST(Json, ParsesUiMessagesAndRejectsGarbage) {
    const auto m = parseJson(R"({"t":"net","run":-1,"detail":"A 1.2.3.4 \"q\" \u0416\ud83d\ude00","ok":true,"list":[{"name":"a","size":5}]})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getInt("run"), -1);
    EXPECT_EQ(m->getString("detail"), "A 1.2.3.4 \"q\" Ж\xF0\x9F\x98\x80");
    EXPECT_TRUE(m->getBool("ok"));
    ASSERT_EQ(m->get("list")->arr.size(), 1u);
    EXPECT_FALSE(parseJson("{\"a\":"));
    EXPECT_FALSE(parseJson("{} x"));
    EXPECT_FALSE(parseJson(std::string(100, '[')));
    EXPECT_EQ(jsonString("a\"\\\t\x01"), "\"a\\\"\\\\\\t\\u0001\"");
}

} // namespace
} // namespace tv::cli
