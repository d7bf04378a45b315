// The front's status and matrix rules against the vectors the page's tests
// read too, so the two readings cannot drift apart.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/json.h"
#include "cli/render.h"
#include "cli/rules.h"
#include "cli/texts.h"

namespace tv::cli {
namespace {

Json loadVectors() {
    std::ifstream in(std::string(TV_SOURCE_DIR) + "/tests/vectors/status_matrix.json",
                     std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    auto j = parseJson(ss.str());
    return j ? *j : Json{};
}

// The English form of a text the rules write: no Russian left in it.
void expectEnglish(const std::string& ru) {
    const std::string en = englishText(stripTags(ru));
    EXPECT_EQ(en.find_first_of("\xD0\xD1"), std::string::npos) << en;
}

std::vector<std::string> strings(const Json* arr) {
    std::vector<std::string> out;
    if (arr)
        for (const auto& v : arr->arr)
            out.push_back(v.str);
    return out;
}

TEST(SharedVectors, Status) {
    const Json v = loadVectors();
    const Json* cases = v.get("status");
    ASSERT_TRUE(cases);
    ASSERT_GE(cases->arr.size(), 5u);
    for (const auto& c : cases->arr) {
        std::vector<DomainRow> rows;
        for (const auto& r : c.get("rows")->arr) {
            DomainRow row{r.getString("host"), r.getString("group"), std::nullopt};
            if (const Json* vd = r.get("verdict"); vd && vd->type == Json::Type::String)
                row.verdict = vd->str;
            rows.push_back(row);
        }
        const Status s = calcStatus(rows);
        EXPECT_EQ(s.k, c.get("expect")->getString("k")) << c.getString("name");
        EXPECT_EQ(s.txt, c.get("expect")->getString("txt")) << c.getString("name");
        expectEnglish(s.txt);
    }
}

TEST(SharedVectors, MatrixNotes) {
    const Json v = loadVectors();
    const Json* cases = v.get("matrix");
    ASSERT_TRUE(cases);
    ASSERT_GE(cases->arr.size(), 5u);
    for (const auto& c : cases->arr) {
        std::map<std::string, MatrixCell> cells;
        for (const auto& x : c.get("cells")->arr)
            cells[x.getString("ip") + "|" + x.getString("sni")] =
                MatrixCell{x.getString("verdict"),
                           x.getString("tcp"),
                           helloViewOf(x),
                           xferViewOf(x),
                           static_cast<int>(x.getInt("tries", 1)),
                           static_cast<int>(x.getInt("passes"))};
        const auto white = strings(c.get("white"));
        const auto notes =
            analyzeMatrix(strings(c.get("ips")), strings(c.get("snis")), cells,
                          std::set<std::string>(white.begin(), white.end()), c.getString("random"));
        const auto& expect = c.get("expect")->arr;
        ASSERT_EQ(notes.size(), expect.size()) << c.getString("name");
        for (size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].ip, expect[i].getString("ip")) << c.getString("name");
            EXPECT_EQ(notes[i].cls, expect[i].getString("cls")) << c.getString("name");
            EXPECT_EQ(notes[i].text, expect[i].getString("text")) << c.getString("name");
            expectEnglish(notes[i].text);
        }
    }
}

TEST(SharedVectors, Warnings) {
    const Json v = loadVectors();
    const Json* cases = v.get("warnings");
    ASSERT_TRUE(cases);
    ASSERT_GE(cases->arr.size(), 5u);
    auto num = [](const Json& j, const char* key) {
        const Json* n = j.get(key);
        return n && n->type == Json::Type::Number ? n->num : -1.0;
    };
    for (const auto& c : cases->arr) {
        std::vector<BasicRow> basics;
        for (const auto& b : c.get("basics")->arr)
            basics.push_back({b.getString("group"), b.getString("state"), num(b, "ms")});
        std::vector<DomainProbe> rows;
        for (const auto& r : c.get("rows")->arr)
            rows.push_back({r.getString("group"), r.getString("dns"), r.getString("tcp"), num(r, "tcpMs")});
        EXPECT_EQ(vpnSuspect(basics, rows), c.get("expect")->getBool("vpn")) << c.getString("name");
        EXPECT_EQ(dnsSuspect(rows), c.get("expect")->getBool("dns")) << c.getString("name");
    }
    expectEnglish(kVpnWarning);
    expectEnglish(kDnsWarning);
    expectEnglish(kHelloLegend);
    expectEnglish(unstableText(3, 1));
    for (const char* w : {"ok", "frozen", "slow", "short", "reset", "timeout"})
        expectEnglish(xferText(XferView{w, w, "ok", 16384, 65536, 140, 900}));
}

} // namespace
} // namespace tv::cli
