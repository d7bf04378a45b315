#include "cli/history.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "base/identity.h"
#include "cli/render.h"
#include "cli/rules.h"
#include "cli/texts.h"

namespace tv::cli {
namespace {

const std::vector<Json>& arr(const Json* j) {
    static const std::vector<Json> none;
    return j && j->type == Json::Type::Array ? j->arr : none;
}

bool isObj(const Json* j) {
    return j && j->type == Json::Type::Object;
}

bool isString(const Json& x, const char* key) {
    const Json* v = x.get(key);
    return v && v->type == Json::Type::String;
}

// A value as the page's String(x) writes it; "" when absent or null.
std::string text(const Json* v) {
    if (!v)
        return {};
    switch (v->type) {
    case Json::Type::String:
        return v->str;
    case Json::Type::Bool:
        return v->b ? "true" : "false";
    case Json::Type::Number: {
        char buf[32];
        if (v->num > -1e15 && v->num < 1e15 &&
            v->num == static_cast<double>(static_cast<int64_t>(v->num)))
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v->num));
        else
            std::snprintf(buf, sizeof buf, "%.15g", v->num);
        return buf;
    }
    default:
        return {};
    }
}

std::string field(const Json& x, const char* key) {
    return text(x.get(key));
}

// A number at least 0, or -1.
int64_t count(const Json& x, const char* key) {
    const Json* v = x.get(key);
    return v && v->type == Json::Type::Number && v->num >= 0 ? x.getInt(key) : -1;
}

std::string word(const std::map<std::string, std::string>& table, const std::string& w) {
    const auto it = table.find(w);
    return it == table.end() ? w : it->second;
}

const std::map<std::string, std::string> kVerdictWords = {
    {"pass", "ПРОХОДИТ"}, {"reach", "ДОСТУЧАЛСЯ"}, {"partial", "ЧАСТИЧНО"},
    {"dpi", "DPI / СБРОС"}, {"blocked", "БЛОК"},   {"pend", "…"}};
const std::map<std::string, std::string> kShortWords = {
    {"pass", "OK"}, {"reach", "ALERT"}, {"partial", "PART"},
    {"dpi", "DPI"}, {"blocked", "BLOCK"}, {"pend", "…"}};

bool unstable(const Json& x) {
    return !unstableText(static_cast<int>(x.getInt("tries", 1)), static_cast<int>(x.getInt("passes")))
                .empty();
}

std::string repeatText(const Json& x) {
    const int64_t tries = x.getInt("tries", 1);
    return tries > 1 ? std::to_string(x.getInt("passes")) + "/" + std::to_string(tries) : "";
}

MatrixCell cellOf(const Json& c) {
    return MatrixCell{field(c, "verdict"),
                      field(c, "tcp"),
                      helloViewOf(c),
                      xferViewOf(c),
                      static_cast<int>(c.getInt("tries", 1)),
                      static_cast<int>(c.getInt("passes"))};
}

std::string randomNameOf(const Json& s) {
    const Json* m = s.get("matrix");
    return isObj(m) ? field(*m, "rand") : std::string();
}

const std::vector<Json>& cellsOf(const Json& s) {
    const Json* m = s.get("matrix");
    return arr(isObj(m) ? m->get("cells") : nullptr);
}

std::string statusText(const Json& s) {
    const Json* st = s.get("status");
    if (isObj(st) && st->get("txt"))
        return field(*st, "txt");
    return "?";
}

bool spoofed(const Json& x) {
    return x.getString("dnsSpoof") == "yes";
}

void reportDomains(const Json& s, std::vector<std::string>& L, bool& legend) {
    std::vector<const Json*> done;
    for (const auto& d : arr(s.get("domains")))
        if (isObj(&d))
            done.push_back(&d);
    if (done.empty())
        return;
    L.push_back("");
    L.push_back("== Домены ==");
    for (const Json* x : done) {
        const Json& d = *x;
        const std::string ip = field(d, "ip");
        const int64_t tlsMs = count(d, "tlsMs");
        const std::string token = helloToken(helloViewOf(d));
        const std::string tries = repeatText(d);
        std::string line = "[" + field(d, "group") + "] " + field(d, "host") + " -> " +
                           word(kVerdictWords, field(d, "verdict")) + " (ip " +
                           (ip.empty() ? "-" : ip) + ", dns " + field(d, "dns") + ", tcp " +
                           field(d, "tcp") + ", tls " + field(d, "tls") +
                           (tlsMs >= 0 ? " " + std::to_string(tlsMs) + "ms" : "") +
                           (field(d, "http") == "ok" ? ", http " + field(d, "httpCode") : "") +
                           (token.empty() ? "" : ", hello " + token) +
                           (isString(d, "xfer") ? ", 16–20 КБ: " + xferText(xferViewOf(d)) : "") +
                           (tries.empty() ? "" : ", попыток " + tries) + ")" +
                           (unstable(d) ? " НЕСТАБИЛЬНО" : "");
        if (spoofed(d)) {
            const std::string via = field(d, "dnsVia");
            line += " [подмена DNS, настоящий адрес " + field(d, "dnsGenuine") +
                    (via.empty() ? "" : ", " + via) + "]";
        }
        L.push_back(line);
        legend = legend || !token.empty();
    }
    if (legend)
        L.push_back(kHelloLegend);
}

void reportMatrix(const Json& s, std::vector<std::string>& L, bool legend) {
    const auto& cells = cellsOf(s);
    if (cells.empty())
        return;
    const Json* m = s.get("matrix");
    const std::string rand = randomNameOf(s);
    std::map<std::string, const Json*> byKey;
    bool anyHello = false, anyUnstable = false;
    for (const auto& c : cells) {
        if (!isObj(&c))
            continue;
        byKey.emplace(field(c, "ip") + "|" + field(c, "sni"), &c);
        anyHello = anyHello || !helloToken(helloViewOf(c)).empty();
        anyUnstable = anyUnstable || unstable(c);
    }
    L.push_back("");
    L.push_back("== IP x SNI ==");
    std::vector<std::string> notes;
    for (const auto& ipJ : arr(m->get("ips"))) {
        const std::string ip = text(&ipJ);
        std::string line = ip + ":";
        std::vector<MatrixCell> found;
        for (const auto& sniJ : arr(m->get("snis"))) {
            const std::string sni = text(&sniJ);
            const auto it = byKey.find(ip + "|" + (sni == "-" ? std::string() : sni));
            const Json* x = it == byKey.end() ? nullptr : it->second;
            line += " " + (sni == "-" ? std::string("noSNI") : !rand.empty() && sni == rand ? "?" + sni : sni) +
                    "=" + (x ? word(kShortWords, field(*x, "verdict")) : "?");
            if (!x)
                continue;
            const MatrixCell cell = cellOf(*x);
            const std::string token = helloToken(cell.hello);
            if (!token.empty())
                line += "[" + token + "]";
            if (xferBad(cell.xfer))
                line += "/" + cell.xfer.word;
            if (unstable(*x))
                line += "~" + std::to_string(cell.passes) + "/" + std::to_string(cell.tries);
            found.push_back(cell);
        }
        L.push_back(line);
        std::vector<const MatrixCell*> ptrs;
        for (const auto& c : found)
            ptrs.push_back(&c);
        if (const auto n = helloNote(ip, ptrs))
            notes.push_back(ip + " — " + stripTags(n->text));
    }
    if (!legend && anyHello)
        L.push_back(kHelloLegend);
    if (anyUnstable)
        L.push_back("~k/N: попытки расходятся, прошло k из N");
    L.insert(L.end(), notes.begin(), notes.end());
}

void reportBasics(const Json& s, std::vector<std::string>& L) {
    const auto& basics = arr(s.get("basics"));
    if (basics.empty())
        return;
    L.push_back("");
    L.push_back("== Базовый тест ==");
    std::vector<std::string> intercepted;
    for (const auto& n : basics) {
        const int64_t ms = count(n, "ms");
        const std::string detail = field(n, "detail");
        L.push_back(field(n, "group") + " | " + field(n, "name") + " -> " + field(n, "state") +
                    (ms >= 0 ? " " + std::to_string(ms) + "ms" : "") +
                    (detail.empty() ? "" : " (" + detail + ")"));
        if (n.getString("intercept") == "yes")
            intercepted.push_back(field(n, "name"));
    }
    if (!intercepted.empty())
        L.push_back("Перехват UDP/53: " + joinList(intercepted));
}

// --- comparison ---------------------------------------------------------------

// One side of a comparison table: rows in first-seen order, each with the
// value that counts for "changed" and the text shown for it.
struct Side {
    struct Value {
        std::string same, shown;
    };
    std::vector<std::string> order;
    std::map<std::string, Value> rows;
    void set(const std::string& key, std::string same, std::string shown) {
        if (!rows.count(key))
            order.push_back(key);
        rows[key] = {std::move(same), std::move(shown)};
    }
    void set(const std::string& key, const std::string& value) { set(key, value, value); }
    bool has(const std::string& key) const { return rows.count(key) != 0; }
};

const std::string kPending = "…";

void diffTable(std::vector<std::string>& L, const std::string& title, const Side& a, const Side& b) {
    std::vector<std::string> keys = a.order;
    for (const auto& k : b.order)
        if (!a.has(k))
            keys.push_back(k);
    std::vector<std::string> changed;
    for (const auto& k : keys)
        if (!a.has(k) || !b.has(k) || a.rows.at(k).same != b.rows.at(k).same)
            changed.push_back(k);
    L.push_back("");
    L.push_back(title + ": изменилось " + std::to_string(changed.size()) + " из " +
                std::to_string(keys.size()));
    if (changed.empty()) {
        L.push_back("Без изменений.");
        return;
    }
    // Widths are taken of the texts as shown, in the chosen language.
    const auto side = [](const Side& s, const std::string& k) {
        return shownText(s.has(k) ? s.rows.at(k).shown : kPending);
    };
    const auto width = [](const std::string& t) {
        size_t n = 0;
        for (const unsigned char c : t)
            n += (c & 0xC0) != 0x80;
        return n;
    };
    size_t wk = width(shownText("Что")), wa = width(shownText("A (было)"));
    for (const auto& k : changed) {
        wk = std::max(wk, width(shownText(k)));
        wa = std::max(wa, width(side(a, k)));
    }
    L.push_back(padCell("Что", wk) + "  " + padCell("A (было)", wa) + "     B (стало)");
    for (const auto& k : changed)
        L.push_back(padCell(k, wk) + "  " + padCell(side(a, k), wa) + "  →  " + side(b, k));
}

std::string cellName(const Json& s, const Json& c) {
    const std::string rand = randomNameOf(s), sni = field(c, "sni");
    return field(c, "ip") + " × " +
           (!rand.empty() && sni == rand ? "? (случайное)" : !sni.empty() ? sni : "∅");
}

// Every domain entry and matrix cell of a snapshot, with its row name.
template <typename F> void eachEntry(const Json& s, F f) {
    for (const auto& d : arr(s.get("domains")))
        if (isObj(&d))
            f(field(d, "host"), d);
    for (const auto& c : cellsOf(s))
        if (isObj(&c))
            f(cellName(s, c), c);
}

Side verdicts(const Json& s, bool domains) {
    Side m;
    if (domains) {
        for (const auto& d : arr(s.get("domains")))
            if (isObj(&d))
                m.set(field(d, "host"), field(d, "verdict"), word(kVerdictWords, field(d, "verdict")));
    } else {
        for (const auto& c : cellsOf(s))
            if (isObj(&c))
                m.set(cellName(s, c), field(c, "verdict"), word(kVerdictWords, field(c, "verdict")));
    }
    return m;
}

void xferDiff(std::vector<std::string>& L, const Json& a, const Json& b) {
    const auto map = [](const Json& s) {
        Side m;
        eachEntry(s, [&](const std::string& k, const Json& x) {
            if (isString(x, "xfer"))
                m.set(k, x.getString("xfer"), xferText(xferViewOf(x)));
        });
        return m;
    };
    Side xa = map(a), xb = map(b), ca, cb;
    bool differ = false;
    for (const auto& k : xa.order)
        if (xb.has(k)) {
            ca.set(k, xa.rows[k].same, xa.rows[k].shown);
            differ = differ || xa.rows[k].same != xb.rows[k].same;
        }
    for (const auto& k : xb.order)
        if (xa.has(k))
            cb.set(k, xb.rows[k].same, xb.rows[k].shown);
    if (differ)
        diffTable(L, "Тест 16–20 КБ", ca, cb);
}

void optionalDiff(std::vector<std::string>& L, const std::string& title, const Json& a,
                  const Json& b, std::string (*valueOf)(const Json&)) {
    const auto map = [&](const Json& s) {
        Side m;
        eachEntry(s, [&](const std::string& k, const Json& x) {
            const std::string v = valueOf(x);
            if (!v.empty())
                m.set(k, v);
        });
        return m;
    };
    const Side ma = map(a), mb = map(b);
    if (!ma.order.empty() || !mb.order.empty())
        diffTable(L, title, ma, mb);
}

std::string helloValue(const Json& x) {
    return helloToken(helloViewOf(x));
}

// The DNS findings: shown when either side has one.
void dnsDiff(std::vector<std::string>& L, const Json& a, const Json& b) {
    const auto spoof = [](const Json& s, bool& any) {
        Side m;
        for (const auto& d : arr(s.get("domains"))) {
            if (!isObj(&d) || !isString(d, "dnsSpoof"))
                continue;
            const std::string v = d.getString("dnsSpoof");
            any = any || v == "yes";
            m.set(field(d, "host"), v == "yes"    ? "подмена DNS → " + field(d, "dnsGenuine")
                                    : v == "fail" ? "не проверено"
                                                  : "нет");
        }
        return m;
    };
    const auto intercept = [](const Json& s, bool& any) {
        Side m;
        for (const auto& n : arr(s.get("basics"))) {
            if (!isObj(&n) || !isString(n, "intercept"))
                continue;
            const std::string v = n.getString("intercept");
            any = any || v == "yes";
            m.set(field(n, "name"), v == "yes" ? "перехват" : v == "no" ? "нет" : "не проверено");
        }
        return m;
    };
    bool any = false;
    Side sa = spoof(a, any), sb = spoof(b, any);
    if (any)
        diffTable(L, "Подмена DNS", sa, sb);
    any = false;
    Side ia = intercept(a, any), ib = intercept(b, any);
    if (any)
        diffTable(L, "Перехват UDP/53", ia, ib);
}

std::string head(const std::string& tag, const Json& s, const std::string& name,
                 const std::string& when) {
    const std::string label = field(s, "label");
    return tag + ": " + statusText(s) + "\n   " + name + " · " + when +
           (label.empty() ? "" : " · " + label);
}

} // namespace

std::optional<int64_t> parseIsoTime(const std::string& iso) {
    int y, mo, d, h, mi, sec, used = 0;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &sec, &used) !=
            6 ||
        used != 19)
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 60 || y < 1970)
        return std::nullopt;
    size_t i = 19;
    if (i < iso.size() && iso[i] == '.') {
        ++i;
        const size_t digits = i;
        while (i < iso.size() && iso[i] >= '0' && iso[i] <= '9')
            ++i;
        if (i == digits)
            return std::nullopt;
    }
    int64_t offset = 0;
    if (i < iso.size() && iso[i] == 'Z') {
        ++i;
    } else if (i + 6 == iso.size() && (iso[i] == '+' || iso[i] == '-') && iso[i + 3] == ':') {
        int oh, om;
        if (std::sscanf(iso.c_str() + i + 1, "%2d:%2d", &oh, &om) != 2)
            return std::nullopt;
        offset = (iso[i] == '+' ? 1 : -1) * (oh * 3600 + om * 60);
        i += 6;
    } else {
        return std::nullopt;
    }
    if (i != iso.size())
        return std::nullopt;
    // Days from the civil date (proleptic Gregorian).
    const int yy = y - (mo <= 2);
    const int era = yy / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + h * 3600 + mi * 60 + sec - offset;
}

std::string snapshotReport(const Json& snap, const std::string& localTime) {
    std::vector<std::string> L;
    const std::string label = field(snap, "label");
    L.push_back(std::string(kProductName) + " " + std::string(kVersion) + " | " + localTime +
                (label.empty() ? "" : " | " + label));
    L.push_back("Статус: " + statusText(snap));
    const Json* ii = snap.get("ipinfo");
    if (isObj(ii) && ii->getBool("error"))
        L.push_back("Выход: данные недоступны (ip-api.com)");
    else if (isObj(ii))
        L.push_back("Выход: " + field(*ii, "ip") + " | " + field(*ii, "isp") + " | " +
                    field(*ii, "as") + " | " + field(*ii, "city"));
    bool legend = false;
    reportDomains(snap, L, legend);
    reportMatrix(snap, L, legend);
    reportBasics(snap, L);
    std::string out;
    for (const auto& l : L)
        out += l + "\n";
    return out;
}

std::string compareReport(const Json& a, const std::string& nameA, const std::string& timeA,
                          const Json& b, const std::string& nameB, const std::string& timeB) {
    std::vector<std::string> L;
    L.push_back(head("A", a, nameA, timeA));
    L.push_back(head("B", b, nameB, timeB));
    diffTable(L, "Домены", verdicts(a, true), verdicts(b, true));
    diffTable(L, "IP × SNI", verdicts(a, false), verdicts(b, false));
    xferDiff(L, a, b);
    optionalDiff(L, "Отпечаток TLS", a, b, helloValue);
    optionalDiff(L, "Повторы (прошло из попыток)", a, b, repeatText);
    dnsDiff(L, a, b);
    std::string out;
    for (const auto& l : L)
        out += l + "\n";
    return out;
}

} // namespace tv::cli
