#include "cli/rules.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <string_view>

namespace tv::cli {
namespace {

std::string trim(const std::string& s) {
    // The page trims with JavaScript's String.prototype.trim; for list files
    // ASCII white space and the no-break space are what occurs in practice.
    size_t b = 0, e = s.size();
    auto space = [&](size_t i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    while (b < e && space(b))
        ++b;
    while (e > b && space(e - 1))
        --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t nl = text.find('\n', start);
        out.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return out;
}

// The first "[" followed by one or more of [A-Za-z0-9_] and then "]".
std::optional<std::string> groupId(const std::string& comment) {
    for (size_t i = 0; i < comment.size(); ++i) {
        if (comment[i] != '[')
            continue;
        size_t j = i + 1;
        while (j < comment.size() &&
               (std::isalnum(static_cast<unsigned char>(comment[j])) || comment[j] == '_'))
            ++j;
        if (j > i + 1 && j < comment.size() && comment[j] == ']')
            return lower(comment.substr(i + 1, j - i - 1));
    }
    return std::nullopt;
}

std::string fraction(int a, int b) {
    return std::to_string(a) + "/" + std::to_string(b);
}

} // namespace

std::vector<DomainRow> parseDomainList(const std::string& text) {
    std::vector<DomainRow> rows;
    std::string group = "custom";
    for (const auto& raw : splitLines(text)) {
        const std::string line = trim(raw);
        if (line.empty())
            continue;
        if (line[0] == '#') {
            if (auto g = groupId(line))
                group = *g;
            continue;
        }
        rows.push_back({lower(line), group, std::nullopt});
    }
    return rows;
}

bool okVerdict(const std::string& v) {
    return v == "pass" || v == "reach";
}

std::optional<GroupRate> groupRate(const std::string& group, const std::vector<DomainRow>& rows) {
    GroupRate r;
    for (const auto& row : rows) {
        if (row.group != group || !row.verdict)
            continue;
        ++r.total;
        if (okVerdict(*row.verdict))
            ++r.ok;
    }
    if (r.total == 0)
        return std::nullopt;
    r.rate = static_cast<double>(r.ok) / r.total;
    return r;
}

Status calcStatus(const std::vector<DomainRow>& rows) {
    int done = 0, any = 0;
    for (const auto& row : rows) {
        if (!row.verdict)
            continue;
        ++done;
        if (okVerdict(*row.verdict))
            ++any;
    }
    if (done == 0)
        return {"unk", "Статус неизвестен — запусти скан"};
    const auto w = groupRate("world", rows);
    const auto ru = groupRate("ru", rows);
    if (any == 0)
        return {"dead", "СЕТИ НЕТ или режется всё"};
    if (w) {
        if (w->rate >= 0.6)
            return {"open", "ОТКРЫТО · мир " + fraction(w->ok, w->total)};
        if (w->rate <= 0.25) {
            std::string txt = "БЕЛЫЕ СПИСКИ · мир " + fraction(w->ok, w->total);
            if (ru)
                txt += " · ru " + fraction(ru->ok, ru->total);
            return {"wl", txt};
        }
        return {"part", "ЧАСТИЧНО · мир " + fraction(w->ok, w->total)};
    }
    if (static_cast<double>(any) / done >= 0.8)
        return {"open", "ОТКРЫТО · " + fraction(any, done)};
    return {"part", "ЧАСТИЧНО · " + fraction(any, done)};
}

std::vector<std::string> parseMatrixLines(const std::string& text) {
    std::vector<std::string> out;
    for (auto line : splitLines(text)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        line = trim(line);
        if (!line.empty())
            out.push_back(line);
    }
    return out;
}

bool xferBad(const XferView& x) {
    return x.word == "frozen" || x.word == "slow";
}

namespace {

struct XferDir {
    const char* arrow;
    int64_t bytes, kbps;
};

// The direction the finding is about: the one whose word it took.
XferDir xferDir(const XferView& x) {
    if (x.down != x.word && x.up == x.word)
        return {"↑", x.upBytes, x.upKbps};
    return {"↓", x.downBytes, x.downKbps};
}

int64_t kb(int64_t bytes) {
    const int64_t k = bytes / 1024 + (bytes % 1024 >= 512); // rounded, with no overflow
    return k < 1 ? 1 : k;
}

std::string xferNote(const std::vector<const XferView*>& stuck) {
    int64_t least = -1;
    bool frozen = false;
    for (const XferView* x : stuck)
        frozen = frozen || x->word == "frozen";
    for (const XferView* x : stuck) {
        const XferDir d = xferDir(*x);
        const int64_t v = frozen ? d.bytes : d.kbps;
        if ((x->word == "frozen") == frozen && (frozen ? v > 0 : v >= 0) &&
            (least < 0 || v < least))
            least = v;
    }
    if (frozen)
        return "Рукопожатие проходит, но данные встают" +
               (least > 0 ? " после ≈" + std::to_string(kb(least)) + " КБ" : std::string()) +
               " — <b>туннель на этот адрес работать не будет</b>, даже с белым SNI.";
    return "Рукопожатие проходит, но скорость режется" +
           (least >= 0 ? " до ≈" + std::to_string(least) + " кбит/с" : std::string()) +
           " — <b>туннель на этот адрес будет еле живым</b>.";
}

} // namespace

std::string xferText(const XferView& x) {
    const XferDir d = xferDir(x);
    if (x.word == "ok")
        return "64 КБ ✓";
    if (x.word == "frozen")
        return std::string("ЗАМОРОЗКА ") + d.arrow +
               (d.bytes > 0 ? "≈" + std::to_string(kb(d.bytes)) + " КБ" : std::string());
    if (x.word == "slow")
        return std::string("МЕДЛЕННО ") + d.arrow +
               (d.kbps >= 0 ? std::to_string(d.kbps) + " кбит/с" : std::string());
    if (x.word == "short")
        return "мало данных";
    if (x.word == "reset")
        return "СБРОС";
    if (x.word == "timeout")
        return "нет данных";
    return "—";
}

std::string randomSniName() {
    static const char* const kTlds[] = {"com", "net", "org", "info", "io", "ru"};
    std::random_device rd;
    std::mt19937 gen(rd());
    std::uniform_int_distribution<int> letter(0, 25);
    std::uniform_int_distribution<size_t> tld(0, std::size(kTlds) - 1);
    std::string name;
    for (int i = 0; i < 10; ++i)
        name += static_cast<char>('a' + letter(gen));
    return name + "." + kTlds[tld(gen)];
}

std::string unstableText(int tries, int passes) {
    if (tries <= 1 || passes <= 0 || passes >= tries)
        return {};
    return "нестабильно " + fraction(passes, tries);
}

std::optional<MatrixNote>
nameNote(const std::string& ip, const MatrixCell& random,
         const std::vector<std::pair<std::string, const MatrixCell*>>& named,
         const std::set<std::string>& white) {
    // Tries that disagree make any one verdict a coin toss: no list is read then.
    bool unsteady = !unstableText(random.tries, random.passes).empty();
    for (const auto& nc : named)
        unsteady = unsteady || !unstableText(nc.second->tries, nc.second->passes).empty();
    if (unsteady)
        return MatrixNote{ip, "note warn",
                          "Попытки на этот адрес расходятся (нестабильно) — вид фильтра по имени "
                          "так не определить: похоже на случайные обрывы, а не на список имён."};
    int wOk = 0, cOk = 0, cTot = 0;
    bool allOk = okVerdict(random.verdict);
    std::vector<std::string> cut;
    for (const auto& [name, x] : named) {
        const bool ok = okVerdict(x->verdict);
        allOk = allOk && ok;
        if (name == "-")
            continue;
        if (white.count(name)) {
            wOk += ok ? 1 : 0;
        } else {
            ++cTot;
            if (ok)
                ++cOk;
            else
                cut.push_back(name);
        }
    }
    const bool randomOk = okVerdict(random.verdict);
    if (allOk)
        return MatrixNote{ip, "note good",
                          "Фильтра по имени на этом адресе нет: проходят все имена, даже "
                          "случайное."};
    if (!randomOk && wOk > 0 && cOk == 0)
        return MatrixNote{ip, "note warn",
                          "Фильтр по имени — <b>белый список</b>: проходят только белые имена, "
                          "случайное имя режется."};
    if (randomOk && !cut.empty()) {
        std::string list;
        for (const auto& n : cut)
            list += (list.empty() ? "" : ", ") + n;
        return MatrixNote{ip, "note warn",
                          "Фильтр по имени — <b>чёрный список</b>: случайное имя проходит, "
                          "режутся только имена из списка: " +
                              list + "."};
    }
    return std::nullopt;
}

std::vector<MatrixNote> analyzeMatrix(const std::vector<std::string>& ips,
                                      const std::vector<std::string>& snis,
                                      const std::map<std::string, MatrixCell>& cells,
                                      const std::set<std::string>& white,
                                      const std::string& randomName) {
    std::vector<MatrixNote> notes;
    bool allOk = true, anyStuck = false, anyFpCut = false;
    int seen = 0;
    for (const auto& ip : ips) {
        int wOk = 0, wTot = 0, cOk = 0, cTot = 0, tcpFail = 0, tot = 0, unsteady = 0;
        std::optional<bool> nOk;
        std::vector<const MatrixCell*> mine;
        const MatrixCell* random = nullptr;
        std::vector<std::pair<std::string, const MatrixCell*>> named;
        // Passing handshakes under a white name whose data froze or crawled;
        // under a foreign name such a cell counts as cut.
        std::vector<const XferView*> stuck;
        for (const auto& name : snis) {
            const bool isRandom = name == kRandomSni;
            const std::string key = ip + "|" +
                                    (name == "-" ? std::string()
                                     : isRandom  ? randomName
                                                 : name);
            const auto it = cells.find(key);
            if (it == cells.end() || (isRandom && randomName.empty()))
                continue;
            const MatrixCell& x = it->second;
            if (isRandom) {
                random = &x;
                continue;
            }
            named.emplace_back(name, &x);
            mine.push_back(&x);
            ++tot;
            ++seen;
            if (x.tcp != "ok")
                ++tcpFail;
            // Tries that disagree count as cut: the last verdict alone is a coin toss.
            const bool shaky = !unstableText(x.tries, x.passes).empty();
            const bool ok = okVerdict(x.verdict) && !shaky;
            if (!ok)
                allOk = false;
            if (shaky && white.count(name))
                ++unsteady;
            const bool bad = ok && xferBad(x.xfer);
            anyStuck = anyStuck || bad;
            if (name == "-") {
                nOk = ok;
            } else if (white.count(name)) {
                ++wTot;
                if (ok)
                    ++wOk;
                if (bad)
                    stuck.push_back(&x.xfer);
            } else {
                ++cTot;
                if (ok && !bad)
                    ++cOk;
            }
        }
        if (random)
            if (auto nn = nameNote(ip, *random, named, white))
                notes.push_back(std::move(*nn));
        if (tot == 0)
            continue;
        if (auto fp = helloNote(ip, mine)) {
            anyFpCut = true;
            notes.push_back(std::move(*fp));
        }
        MatrixNote n{ip, "", ""};
        if (tcpFail == tot) {
            n.cls = "note bad";
            n.text = "TCP:443 до этого IP вообще не проходит — адрес отрезан (или хост лежит).";
        } else if (unsteady > 0) {
            n.cls = "note bad";
            n.text = "Белые имена на этот адрес то проходят, то режутся (нестабильно " +
                     std::to_string(unsteady) + " из " + std::to_string(wTot) +
                     "): туннель с маскировкой под белый SNI будет обрываться, даже если одна "
                     "проверка прошла.";
        } else if (!stuck.empty()) {
            n.cls = "note bad";
            n.text = xferNote(stuck);
        } else if (wOk > 0 && cOk == 0 && cTot > 0) {
            n.cls = "note good";
            n.text = "Фильтр по <b>SNI</b>: белые имена проходят (" + fraction(wOk, wTot) +
                     "), чужие режутся. Хороший знак: сервер где угодно + маскировка под белый "
                     "SNI (Reality) может сработать.";
        } else if (wOk > 0 && cOk > 0) {
            n.cls = "note good";
            n.text = "Пускает и белые, и чужие SNI (" + fraction(wOk, wTot) + " белых, " +
                     fraction(cOk, cTot) +
                     " чужих). SNI не фильтруется — IP белый или фильтр сейчас снят.";
        } else if (wOk == 0 && cOk > 0) {
            n.cls = "note warn";
            n.text = "Странно: белые SNI режутся, чужие проходят. Проверь таймауты и повтори.";
        } else {
            n.cls = "note bad";
            n.text = std::string("TCP есть, но TLS режется при любом SNI (") +
                     (nOk.value_or(false) ? "даже без SNI проходит" : "без SNI тоже нет") +
                     ") — похоже на DPI или блок по IP.";
        }
        notes.push_back(std::move(n));
    }
    if (seen > 0 && allOk && anyStuck)
        notes.insert(notes.begin(),
                     MatrixNote{"", "note warn",
                                "Рукопожатия проходят, но на части адресов данные встают или "
                                "режется скорость: белые списки <b>не сняты</b>, смотри заметки "
                                "по адресам."});
    else if (seen > 0 && allOk && anyFpCut)
        // Every handshake passed, yet a browser-shaped hello was cut somewhere:
        // a tunnel that imitates that browser fails there.
        notes.insert(notes.begin(), MatrixNote{"", "note warn", kHelloAllCut});
    else if (seen > 0 && allOk)
        notes.insert(
            notes.begin(),
            MatrixNote{"", "note warn",
                       "Всё проходит, похоже, белые списки сейчас <b>сняты</b>. Сохрани "
                       "снимок как эталон, потом повторишь скан при блокировке и сравнишь."});
    return notes;
}

bool vpnSuspect(const std::vector<BasicRow>& basics, const std::vector<DomainProbe>& rows) {
    std::vector<double> t;
    for (const auto& n : basics)
        if (n.group.rfind("TCP:443", 0) == 0 && n.state == "ok" && n.ms >= 0)
            t.push_back(n.ms);
    for (const auto& x : rows)
        if (x.tcp == "ok" && x.tcpMs >= 0 && x.dns != "skip")
            t.push_back(x.tcpMs);
    if (t.size() < 3)
        return false;
    const auto fast = std::count_if(t.begin(), t.end(), [](double v) { return v <= 3; });
    return static_cast<size_t>(fast) * 10 >= t.size() * 9;
}

bool dnsSuspect(const std::vector<DomainProbe>& rows) {
    int nx = 0, ok = 0;
    for (const auto& r : rows) {
        if (r.group != "ru" && r.group != "cloud" && r.group != "host")
            continue;
        nx += r.dns == "nx";
        ok += r.dns == "ok";
    }
    return nx >= 3 && ok >= 1;
}

std::string stripTags(const std::string& html) {
    static constexpr std::string_view kTags[] = {"<b>", "</b>", "</span>"};
    std::string out;
    out.reserve(html.size());
    for (size_t i = 0; i < html.size(); ++i) {
        bool cut = false;
        for (const auto tag : kTags)
            if (html.compare(i, tag.size(), tag) == 0) {
                i += tag.size() - 1;
                cut = true;
                break;
            }
        if (cut)
            continue;
        if (html.compare(i, 6, "<span ") == 0) {
            const size_t end = html.find('>', i);
            if (end != std::string::npos) {
                i = end;
                continue;
            }
        }
        out += html[i];
    }
    return out;
}

} // namespace tv::cli
