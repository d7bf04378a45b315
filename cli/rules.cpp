#include "cli/rules.h"

#include <algorithm>
#include <cctype>

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

std::string fraction(int a, int b) { return std::to_string(a) + "/" + std::to_string(b); }

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

bool okVerdict(const std::string& v) { return v == "pass" || v == "reach"; }

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

std::vector<MatrixNote> analyzeMatrix(const std::vector<std::string>& ips,
                                      const std::vector<std::string>& snis,
                                      const std::map<std::string, MatrixCell>& cells,
                                      const std::set<std::string>& white) {
    std::vector<MatrixNote> notes;
    bool allOk = true;
    int seen = 0;
    for (const auto& ip : ips) {
        int wOk = 0, wTot = 0, cOk = 0, cTot = 0, tcpFail = 0, tot = 0;
        std::optional<bool> nOk;
        for (const auto& name : snis) {
            const std::string key = ip + "|" + (name == "-" ? std::string() : name);
            const auto it = cells.find(key);
            if (it == cells.end())
                continue;
            const MatrixCell& x = it->second;
            ++tot;
            ++seen;
            if (x.tcp != "ok")
                ++tcpFail;
            const bool ok = okVerdict(x.verdict);
            if (!ok)
                allOk = false;
            if (name == "-") {
                nOk = ok;
            } else if (white.count(name)) {
                ++wTot;
                if (ok)
                    ++wOk;
            } else {
                ++cTot;
                if (ok)
                    ++cOk;
            }
        }
        if (tot == 0)
            continue;
        MatrixNote n{ip, "", ""};
        if (tcpFail == tot) {
            n.cls = "note bad";
            n.text = "TCP:443 до этого IP вообще не проходит — адрес отрезан (или хост лежит).";
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
    if (seen > 0 && allOk)
        notes.insert(notes.begin(),
                     MatrixNote{"", "note warn",
                                "Всё проходит, похоже, белые списки сейчас <b>сняты</b>. Сохрани "
                                "снимок как эталон, потом повторишь скан при блокировке и сравнишь."});
    return notes;
}

std::string stripTags(const std::string& html) {
    std::string out;
    out.reserve(html.size());
    for (size_t i = 0; i < html.size(); ++i) {
        if (html.compare(i, 3, "<b>") == 0) {
            i += 2;
        } else if (html.compare(i, 4, "</b>") == 0) {
            i += 3;
        } else {
            out += html[i];
        }
    }
    return out;
}

} // namespace tv::cli
