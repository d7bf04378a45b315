#include "cli/render.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"
#include "cli/snapshot.h"
#include "cli/texts.h"
#include "probe/basic_checks.h"

namespace tv::cli {
namespace {

const char* kReset = "\033[0m";

// The colour sequences this front writes itself; a line keeps these and no
// other control.
constexpr const char* kOwnSequences[] = {"\033[0m",  "\033[2m",  "\033[31m", "\033[32m",
                                         "\033[33m", "\033[35m", "\033[36m"};

// A line for the terminal: every control in it is shown (toPrintable) except
// the front's own colour sequences. Text from outside is made printable where
// it is taken from a message (shown below) already; this is the second wall.
std::string terminalLine(const std::string& text) {
    std::string out;
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\033')
            continue;
        for (const char* seq : kOwnSequences) {
            const std::string_view q(seq);
            if (text.compare(i, q.size(), q) == 0) {
                out += toPrintable(std::string_view(text).substr(run, i - run));
                out += q;
                run = i + q.size();
                i = run - 1;
                break;
            }
        }
    }
    out += toPrintable(std::string_view(text).substr(run));
    return out;
}

// A text field of a message, as it may be shown to a person.
std::string shown(const Json& m, const std::string& key) {
    return toPrintable(m.getString(key));
}

// A number field of a message; -1 when absent or not a number.
double number(const Json& m, const std::string& key) {
    const Json* n = m.get(key);
    return n && n->type == Json::Type::Number ? n->num : -1.0;
}

// The basic test's steps: twelve checks, the encrypted ones, the lookup.
constexpr size_t kBasicsSteps = 12 + kBasicSecureChecks + 1;

// The DNS findings as the page words them (web/src/75-dns.js).
constexpr const char* kSpoofMark = "подмена DNS";
constexpr const char* kSpoofNote =
    "Подмена DNS. Для части сайтов системный DNS отдаёт чужой адрес (заглушку или "
    "блок-страницу): шифрованный DNS дал другой адрес, и там сертификат настоящий. Строки с "
    "пометкой «подмена DNS» проверяют заглушку, а не сам сайт.";
constexpr const char* kInterceptNote =
    "DNS-запросы на UDP/53 перехватывают. Вместо публичного резолвера отвечает сама сеть "
    "(обычно DNS оператора): так показал whoami по UDP и по DoT. Ответы строк с пометкой "
    "«перехват» пришли не от того резолвера, которого ты спрашивал.";

std::string colourFor(const std::string& word) {
    if (word == "pass" || word == "ok")
        return "\033[32m";
    if (word == "reach" || word == "alert")
        return "\033[36m";
    if (word == "partial")
        return "\033[33m";
    if (word == "dpi" || word == "timeout" || word == "reset" || word == "refused")
        return "\033[35m";
    if (word == "blocked" || word == "nx" || word == "fail")
        return "\033[31m";
    return {};
}

std::string groupTitle(const std::string& g) {
    if (g == "ru")
        return "Российские";
    if (g == "cloud")
        return "Облака / CDN";
    if (g == "host")
        return "Хостинги / VPS";
    if (g == "world")
        return "Контроль (мир)";
    if (g == "custom")
        return "Свои";
    return g;
}

// A matrix cell's mark after its verdict, as the page draws it.
std::string xferMark(const XferView& x) {
    if (x.word == "frozen")
        return "❄";
    if (x.word == "slow")
        return "⏳";
    if (x.word.empty() || x.word == "ok" || x.word == "skip")
        return "";
    return "·";
}

std::string shortLabel(const std::string& v) {
    if (v == "pass")
        return "OK";
    if (v == "reach")
        return "ALERT";
    if (v == "partial")
        return "PART";
    if (v == "dpi")
        return "DPI";
    if (v == "blocked")
        return "BLOCK";
    return v;
}

std::string stateCell(const std::string& st, int64_t ms) {
    if (st.empty() || st == "skip")
        return "—";
    if (st == "ok" && ms >= 0)
        return st + " " + std::to_string(ms) + "мс";
    return st;
}

bool isDone(const Json& m) {
    return m.getString("t") == "done";
}

} // namespace

Renderer::Renderer(bool json, bool stdoutTty, bool stderrTty, bool noColor)
    : json_(json), colour_(stdoutTty && !noColor && !json), progress_(stderrTty && !json),
      start_(std::chrono::steady_clock::now()) {}

void Renderer::endProgress() {
    if (progressShown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        progressShown_ = false;
    }
}

void Renderer::line(const std::string& text) {
    if (json_)
        return;
    endProgress();
    const std::string safe = terminalLine(shownText(text));
    std::fwrite(safe.data(), 1, safe.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Renderer::raw(const std::string& message) {
    if (!json_)
        return;
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Renderer::notice(const std::string& text) {
    endProgress();
    const std::string safe = toPrintable(shownText(text));
    std::fprintf(stderr, "%s\n", safe.c_str());
    std::fflush(stderr);
}

void Renderer::progress(size_t done, size_t total) {
    if (!progress_)
        return;
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const long pct = total ? static_cast<long>((done * 100.0) / total + 0.5) : 0;
    std::fprintf(stderr, "\r\033[K%zu / %zu (%ld%%) %.1f %s", done, total, pct, secs,
                 language() == Lang::En ? "s" : "с");
    std::fflush(stderr);
    progressShown_ = true;
}

std::string Renderer::verdictColour(const std::string& verdict, const std::string& text) const {
    const std::string c = colour_ ? colourFor(verdict) : std::string();
    return c.empty() ? text : c + text + kReset;
}

std::string Renderer::stateColour(const std::string& state, const std::string& text) const {
    return verdictColour(state, text);
}

std::string Renderer::verdictHeading() const {
    return xfer_ ? padCell("Вердикт", 8) + " 16–20 КБ" : "Вердикт";
}

std::string Renderer::muted(const std::string& text) const {
    return colour_ ? "\033[2m" + text + kReset : text;
}

std::string joinList(const std::vector<std::string>& items) {
    std::string s;
    for (const auto& i : items)
        s += (s.empty() ? "" : ", ") + i;
    return s;
}

std::string joinWith(const std::vector<std::string>& items, char sep) {
    std::string s;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            s += sep;
        s += items[i];
    }
    return s;
}

std::string padCell(const std::string& text, size_t width) {
    std::string s(cutCodePoints(shownText(text), width));
    const size_t n = countCodePoints(s);
    if (n < width)
        s.append(width - n, ' ');
    return s;
}

ResultCells resultCells(const Json& x) {
    ResultCells c;
    c.ip = x.getString("ip").empty() ? "—" : shown(x, "ip");
    c.dns = stateCell(x.getString("dns"), x.getInt("dnsMs", -1));
    c.tcp = stateCell(x.getString("tcp"), x.getInt("tcpMs", -1));
    c.tls = stateCell(x.getString("tls"), x.getInt("tlsMs", -1));
    const std::string http = x.getString("http");
    if (http == "skip" || http.empty())
        c.http = "—";
    else if (http == "ok")
        c.http = std::to_string(x.getInt("httpCode")) + " · " + std::to_string(x.getInt("httpMs")) +
                 "мс";
    else
        c.http = http;
    const std::string cert = shown(x, "cert");
    c.cert = cert.empty() ? "—" : cert + (x.getBool("certOk") ? " ✓" : " ⚠");
    return c;
}

HelloView helloViewOf(const Json& x) {
    const std::string mode = x.getString("hello");
    if (mode.empty() || mode == "lib")
        return {};
    return {mode, x.getString("tls"), x.getString("helloChrome"), x.getString("helloFirefox")};
}

std::string helloTokenCell(const Renderer& r, const HelloView& h, size_t width) {
    const std::string t = helloToken(h);
    std::string s;
    for (size_t i = 0; i + 1 < t.size(); i += 2) {
        const std::string mark = t.substr(i, 2);
        s += r.stateColour(t[i + 1] == '+' ? "ok" : t[i + 1] == '-' ? "timeout" : "", mark);
    }
    return t.size() < width ? s + std::string(width - t.size(), ' ') : s;
}

std::string resultRow(const Renderer& r, const Json& m, size_t certWidth, bool hello) {
    const ResultCells c = resultCells(m);
    const std::string v = m.getString("verdict");
    std::string line =
        padCell(c.ip, 15) + " " + r.stateColour(m.getString("dns"), padCell(c.dns, 9)) + " " +
        r.stateColour(m.getString("tcp"), padCell(c.tcp, 11)) + " " +
        r.stateColour(m.getString("tls"), padCell(c.tls, 11)) + " " +
        r.stateColour(m.getString("http"), padCell(c.http, 13)) + " " + padCell(c.cert, certWidth) +
        " " + (hello ? helloTokenCell(r, helloViewOf(m), kHelloWidth) + " " : "");
    const XferView x = xferViewOf(m);
    if (x.word.empty()) {
        line += r.verdictColour(v, v);
    } else {
        // The finding's colour: green through, red frozen or reset, yellow slow.
        const std::string tone = x.word == "ok"                            ? "pass"
                                 : x.word == "frozen" || x.word == "reset" ? "blocked"
                                 : x.word == "slow"                        ? "partial"
                                                                           : "";
        line += r.verdictColour(v, padCell(v, 8)) + " " +
                r.verdictColour(tone, padCell(xferText(x), 20));
    }
    const std::string unstable =
        unstableText(static_cast<int>(m.getInt("tries", 1)), static_cast<int>(m.getInt("passes")));
    if (!unstable.empty())
        line += " " + r.verdictColour("partial", unstable);
    if (m.getString("dnsSpoof") == "yes")
        line += " " + r.verdictColour("blocked",
                                      std::string(kSpoofMark) + " → " + shown(m, "dnsGenuine"));
    if (!m.getString("tlsDetail").empty())
        line += " " + r.muted("(" + shown(m, "tlsDetail") + ")");
    return line;
}

// --- domains ---------------------------------------------------------------

DomainRun::DomainRun(Renderer& r, std::vector<DomainRow> rows, bool hello)
    : RunView(r), rows_(std::move(rows)), hello_(hello) {
    r_.line(padCell("Домен", 26) + " " + padCell("Группа", 7) + " " + padCell("IP", 15) + " " +
            padCell("DNS", 9) + " " + padCell("TCP", 11) + " " + padCell("TLS", 11) + " " +
            padCell("HTTP", 13) + " " + padCell("Сертификат", 26) + " " +
            (hello_ ? padCell(kHelloColumn, kHelloWidth) + " " : "") + r_.verdictHeading());
}

void DomainRun::onMessage(const Json& m, const std::string& raw) {
    const std::string t = m.getString("t");
    if (t == "msg") {
        r_.notice(m.getString("text"));
        return;
    }
    if (t == "res") {
        r_.raw(raw);
        const auto idx = static_cast<size_t>(m.getInt("idx"));
        ++done_;
        if (idx < rows_.size()) {
            rows_[idx].verdict = m.getString("verdict");
            results_[idx] = m;
            r_.line(padCell(toPrintable(rows_[idx].host), 26) + " " +
                    padCell(toPrintable(rows_[idx].group), 7) + " " +
                    resultRow(r_, m, 26, hello_));
        }
        r_.progress(done_, rows_.size());
    } else if (isDone(m)) {
        r_.raw(raw);
        cancelled_ = m.getBool("cancelled");
    }
}

void DomainRun::finish() {
    r_.endProgress();
    if (r_.json())
        return;
    r_.line("");
    std::vector<std::string> order;
    for (const auto& row : rows_)
        if (std::find(order.begin(), order.end(), row.group) == order.end())
            order.push_back(row.group);
    for (const auto& g : order) {
        int ok = 0, tot = 0;
        for (const auto& row : rows_) {
            if (row.group != g)
                continue;
            ++tot;
            if (row.verdict && okVerdict(*row.verdict))
                ++ok;
        }
        r_.line(padCell(toPrintable(groupTitle(g)), 16) + " " + std::to_string(ok) + " / " +
                std::to_string(tot) + " · проходят");
    }
    const Status st = calcStatus(rows_);
    r_.line("");
    r_.line("Статус: " + r_.verdictColour(st.k == "open"   ? "pass"
                                          : st.k == "wl"   ? "partial"
                                          : st.k == "part" ? "reach"
                                          : st.k == "dead" ? "blocked"
                                                           : "",
                                          st.txt));
    std::vector<DomainProbe> probes;
    for (const auto& [idx, res] : results_)
        probes.push_back({rows_[idx].group, res.getString("dns"), res.getString("tcp"),
                          number(res, "tcpMs")});
    const bool vpn = vpnSuspect({}, probes), dns = dnsSuspect(probes);
    if (vpn || dns)
        r_.line("");
    if (vpn)
        r_.line(r_.verdictColour("partial", stripTags(kVpnWarning)));
    if (dns)
        r_.line(r_.verdictColour("partial", stripTags(kDnsWarning)));
    // Rows whose tries disagreed count apart from the steady ones.
    std::vector<std::string> unstable;
    for (const auto& [idx, res] : results_)
        if (!unstableText(static_cast<int>(res.getInt("tries", 1)),
                          static_cast<int>(res.getInt("passes")))
                 .empty())
            unstable.push_back(rows_[idx].host);
    if (!unstable.empty())
        r_.line(r_.verdictColour("partial", "Нестабильно: " + std::to_string(unstable.size()) +
                                                " (" + joinList(unstable) + ")"));
    std::vector<std::string> spoofed;
    for (const auto& [idx, res] : results_)
        if (res.getString("dnsSpoof") == "yes")
            spoofed.push_back(toPrintable(rows_[idx].host) + " → " + shown(res, "dnsGenuine"));
    if (!spoofed.empty()) {
        r_.line("");
        r_.line(r_.verdictColour("partial", kSpoofNote));
        r_.line(std::string(kSpoofMark) + ": " + joinList(spoofed));
    }
    if (cancelled_)
        r_.line(r_.muted("Остановлено: " + std::to_string(done_) + " / " +
                         std::to_string(rows_.size())));
}

bool DomainRun::anyPassed() const {
    for (const auto& row : rows_)
        if (row.verdict && okVerdict(*row.verdict))
            return true;
    return false;
}

std::string DomainRun::snapshot(const std::string& label, const std::string& created) const {
    std::vector<std::string> entries;
    for (const auto& [idx, res] : results_)
        entries.push_back(snapshotDomainEntry(rows_[idx].host, rows_[idx].group, res));
    return snapshotText(created, label, calcStatus(rows_), entries, {}, {}, {}, {}, "null");
}

// --- matrix ----------------------------------------------------------------

MatrixRun::MatrixRun(Renderer& r, std::vector<std::string> ips, std::vector<std::string> snis,
                     std::set<std::string> white, std::string randomName)
    : RunView(r), ips_(std::move(ips)), snis_(std::move(snis)), white_(std::move(white)),
      random_(std::move(randomName)) {}

// The job name of an SNI entry: none for "-", the run's made-up name for "?".
std::string MatrixRun::jobName(const std::string& entry) const {
    return entry == "-" ? std::string() : entry == kRandomSni ? random_ : entry;
}

void MatrixRun::onMessage(const Json& m, const std::string& raw) {
    const std::string t = m.getString("t");
    if (t == "msg") {
        r_.notice(m.getString("text"));
    } else if (t == "res") {
        r_.raw(raw);
        ++done_;
        const std::string key = m.getString("host") + "|" + m.getString("sni");
        cells_[key] = MatrixCell{m.getString("verdict"),
                                 m.getString("tcp"),
                                 helloViewOf(m),
                                 xferViewOf(m),
                                 static_cast<int>(m.getInt("tries", 1)),
                                 static_cast<int>(m.getInt("passes"))};
        cellEntries_.push_back(snapshotMatrixCell(m));
        r_.progress(done_, ips_.size() * snis_.size());
    } else if (isDone(m)) {
        r_.raw(raw);
        cancelled_ = m.getBool("cancelled");
    }
}

void MatrixRun::finish() {
    r_.endProgress();
    if (r_.json())
        return;
    size_t w0 = 8;
    for (const auto& ip : ips_)
        w0 = std::max(w0, countCodePoints(toPrintable(ip)));
    auto cellOf = [&](const std::string& ip, size_t j) -> const MatrixCell* {
        const auto it = cells_.find(ip + "|" + jobName(snis_[j]));
        return it == cells_.end() ? nullptr : &it->second;
    };
    // A cell is its short label with the transfer test's mark, then the hello
    // token when the hellos ran.
    auto labelOf = [&](const MatrixCell& c) {
        const std::string unstable = unstableText(c.tries, c.passes);
        return shortLabel(c.verdict) + xferMark(c.xfer) + (unstable.empty() ? "" : " " + unstable);
    };
    auto plain = [&](const MatrixCell& c) {
        const std::string t = helloToken(c.hello);
        return labelOf(c) + (t.empty() ? "" : " " + t);
    };
    std::string head = padCell("IP \\ SNI", w0);
    std::vector<size_t> widths;
    bool anyToken = false;
    for (size_t j = 0; j < snis_.size(); ++j) {
        // The made-up name's column shows the name this run used.
        const std::string label = snis_[j] == "-"          ? "∅"
                                  : snis_[j] == kRandomSni ? "?" + random_
                                                           : toPrintable(snis_[j]);
        size_t w = std::max<size_t>(6, countCodePoints(label));
        for (const auto& ip : ips_)
            if (const MatrixCell* c = cellOf(ip, j)) {
                w = std::max(w, countCodePoints(plain(*c)));
                anyToken = anyToken || !helloToken(c->hello).empty();
            }
        widths.push_back(w);
        head += "  " + padCell(label, w);
    }
    r_.line(head);
    for (const auto& ip : ips_) {
        std::string row = padCell(toPrintable(ip), w0);
        for (size_t j = 0; j < snis_.size(); ++j) {
            const MatrixCell* c = cellOf(ip, j);
            if (!c) {
                row += "  " + padCell("…", widths[j]);
                continue;
            }
            const std::string label = labelOf(*c);
            const std::string token = helloToken(c->hello);
            row += "  " + r_.verdictColour(c->verdict, label);
            if (!token.empty())
                row += " " + helloTokenCell(r_, c->hello, 0);
            const size_t used =
                countCodePoints(label) + (token.empty() ? 0 : countCodePoints(token) + 1);
            row += std::string(widths[j] - used, ' ');
        }
        r_.line(row);
    }
    if (anyToken)
        r_.line(r_.muted(kHelloLegend));
    if (cancelled_) {
        r_.line(r_.muted("Остановлено: " + std::to_string(done_) + " / " +
                         std::to_string(ips_.size() * snis_.size())));
        return; // a stopped run gets no conclusions, as on the page
    }
    r_.line("");
    for (const auto& n : analyzeMatrix(ips_, snis_, cells_, white_, random_)) {
        const std::string text = toPrintable(stripTags(n.text));
        const std::string tone = n.cls == "note good"   ? "pass"
                                 : n.cls == "note warn" ? "partial"
                                                        : "blocked";
        r_.line(r_.verdictColour(tone, n.ip.empty() ? text : toPrintable(n.ip) + " — " + text));
    }
}

bool MatrixRun::anyPassed() const {
    for (const auto& [k, c] : cells_)
        if (okVerdict(c.verdict))
            return true;
    return false;
}

std::string MatrixRun::snapshot(const std::string& label, const std::string& created) const {
    // The file names the made-up name in the list, so older readers show its
    // column like any other; `rand` tells newer ones which column it was.
    std::vector<std::string> snis;
    for (const auto& e : snis_)
        snis.push_back(e == kRandomSni ? random_ : e);
    return snapshotText(created, label, calcStatus({}), {}, ips_, snis, cellEntries_, {}, "null",
                        random_);
}

// --- basics ----------------------------------------------------------------

BasicsRun::BasicsRun(Renderer& r) : RunView(r) {}

void BasicsRun::onMessage(const Json& m, const std::string& raw) {
    const std::string t = m.getString("t");
    if (t == "msg") {
        r_.notice(m.getString("text"));
    } else if (t == "net") {
        r_.raw(raw);
        basics_.push_back(raw);
        ++done_;
        const std::string st = m.getString("state");
        if (st == "ok")
            ++ok_;
        const int64_t ms = m.getInt("ms", -1);
        r_.line(padCell(shown(m, "group"), 14) + " " + padCell(shown(m, "name"), 26) + " " +
                r_.stateColour(st, padCell(st.empty() || st == "skip" ? "—" : st, 8)) + " " +
                padCell(ms >= 0 ? std::to_string(ms) : "—", 6) + " " + shown(m, "detail"));
        if (m.getString("intercept") == "yes")
            intercepted_.push_back(shown(m, "name"));
        r_.progress(done_, kBasicsSteps);
    } else if (t == "ipinfo") {
        r_.raw(raw);
        ++done_;
        const std::string body = m.getString("body");
        ipinfo_ = snapshotIpInfo(body);
        const auto j = parseJson(body);
        r_.line("");
        if (j && j->getString("status") == "success") {
            r_.line("Твой выход в интернет: " + shown(*j, "query") + " · " + shown(*j, "isp") +
                    " · " + shown(*j, "as") + " · " + shown(*j, "city") + ", " +
                    shown(*j, "country"));
        } else {
            r_.line("Данные о выходе в интернет получить не удалось. ip-api.com недоступен — при "
                    "белых списках это нормально.");
        }
    } else if (isDone(m)) {
        r_.raw(raw);
        if (!intercepted_.empty()) {
            r_.line("");
            r_.line(r_.verdictColour("partial", kInterceptNote));
            r_.line("Перехват: " + joinList(intercepted_));
        }
        if (m.getBool("cancelled"))
            r_.line(r_.muted("Остановлено"));
    }
}

void BasicsRun::finish() {
    r_.endProgress();
    if (r_.json())
        return;
    std::vector<BasicRow> rows;
    for (const auto& raw : basics_)
        if (const auto m = parseJson(raw))
            rows.push_back({m->getString("group"), m->getString("state"), number(*m, "ms")});
    if (vpnSuspect(rows, {})) {
        r_.line("");
        r_.line(r_.verdictColour("partial", stripTags(kVpnWarning)));
    }
}

bool BasicsRun::anyPassed() const {
    return ok_ > 0;
}

std::string BasicsRun::snapshot(const std::string& label, const std::string& created) const {
    return snapshotText(created, label, calcStatus({}), {}, {}, {}, {}, basics_, ipinfo_);
}

// --- raw scan ----------------------------------------------------------------

ScanRun::ScanRun(Renderer& r, bool hello) : RunView(r), hello_(hello) {
    r_.line(padCell("Хост", 22) + " " + padCell("SNI", 22) + " " + padCell("IP", 15) + " " +
            padCell("DNS", 9) + " " + padCell("TCP", 11) + " " + padCell("TLS", 11) + " " +
            padCell("HTTP", 13) + " " + padCell("Сертификат", 24) + " " +
            (hello_ ? padCell(kHelloColumn, kHelloWidth) + " " : "") + r_.verdictHeading());
}

void ScanRun::onMessage(const Json& m, const std::string& raw) {
    const std::string t = m.getString("t");
    if (t == "msg") {
        r_.notice(m.getString("text"));
    } else if (t == "res") {
        r_.raw(raw);
        results_[static_cast<size_t>(m.getInt("idx"))] = m;
        r_.line(padCell(shown(m, "host"), 22) + " " +
                padCell(m.getString("sni").empty() ? "∅" : shown(m, "sni"), 22) + " " +
                resultRow(r_, m, 24, hello_));
    } else if (isDone(m)) {
        r_.raw(raw);
        cancelled_ = m.getBool("cancelled");
    }
}

void ScanRun::finish() {
    r_.endProgress();
    if (cancelled_)
        r_.line(r_.muted("Остановлено: " + std::to_string(results_.size())));
}

bool ScanRun::anyPassed() const {
    for (const auto& [i, m] : results_)
        if (okVerdict(m.getString("verdict")))
            return true;
    return false;
}

std::string ScanRun::snapshot(const std::string& label, const std::string& created) const {
    std::vector<std::string> entries;
    std::vector<DomainRow> rows;
    for (const auto& [i, m] : results_) {
        entries.push_back(snapshotDomainEntry(m.getString("host"), "custom", m));
        rows.push_back({m.getString("host"), "custom", m.getString("verdict")});
    }
    return snapshotText(created, label, calcStatus(rows), entries, {}, {}, {}, {}, "null");
}

} // namespace tv::cli
