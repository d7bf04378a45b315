#include "cli/render.h"

#include <algorithm>
#include <cstdio>

namespace tv::cli {
namespace {

const char* kReset = "\033[0m";

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

size_t codePoints(const std::string& s) {
    size_t n = 0;
    for (const char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
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

std::string join(const std::vector<std::string>& items) {
    std::string s;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            s += ',';
        s += items[i];
    }
    return s;
}

std::string quotedList(const std::vector<std::string>& items) {
    std::vector<std::string> q;
    for (const auto& i : items)
        q.push_back(jsonString(i));
    return "[" + join(q) + "]";
}

bool isDone(const Json& m) { return m.getString("t") == "done"; }

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
    std::fwrite(text.data(), 1, text.size(), stdout);
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
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void Renderer::progress(size_t done, size_t total) {
    if (!progress_)
        return;
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const long pct = total ? static_cast<long>((done * 100.0) / total + 0.5) : 0;
    std::fprintf(stderr, "\r\033[K%zu / %zu (%ld%%) %.1f с", done, total, pct, secs);
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

std::string Renderer::muted(const std::string& text) const {
    return colour_ ? "\033[2m" + text + kReset : text;
}

std::string padCell(const std::string& text, size_t width) {
    std::string s;
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool lead = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (lead) {
            if (n == width)
                break;
            ++n;
        }
        s += text[i];
    }
    if (n < width)
        s.append(width - n, ' ');
    return s;
}

ResultCells resultCells(const Json& x) {
    ResultCells c;
    c.ip = x.getString("ip").empty() ? "—" : x.getString("ip");
    c.dns = stateCell(x.getString("dns"), x.getInt("dnsMs", -1));
    c.tcp = stateCell(x.getString("tcp"), x.getInt("tcpMs", -1));
    c.tls = stateCell(x.getString("tls"), x.getInt("tlsMs", -1));
    const std::string http = x.getString("http");
    if (http == "skip" || http.empty())
        c.http = "—";
    else if (http == "ok")
        c.http = std::to_string(x.getInt("httpCode")) + " · " + std::to_string(x.getInt("httpMs")) + "мс";
    else
        c.http = http;
    const std::string cert = x.getString("cert");
    c.cert = cert.empty() ? "—" : cert + (x.getBool("certOk") ? " ✓" : " ⚠");
    return c;
}

std::string snapshotDomainEntry(const std::string& host, const std::string& group, const Json& x) {
    return "{\"host\":" + jsonString(host) + ",\"group\":" + jsonString(group) +
           ",\"verdict\":" + jsonString(x.getString("verdict")) + ",\"ip\":" +
           jsonString(x.getString("ip")) + ",\"dns\":" + jsonString(x.getString("dns")) +
           ",\"tcp\":" + jsonString(x.getString("tcp")) + ",\"tls\":" +
           jsonString(x.getString("tls")) + ",\"http\":" + jsonString(x.getString("http")) +
           ",\"httpCode\":" + std::to_string(x.getInt("httpCode")) +
           ",\"tlsMs\":" + std::to_string(x.getInt("tlsMs", -1)) + ",\"cert\":" +
           jsonString(x.getString("cert")) + ",\"certOk\":" + (x.getBool("certOk") ? "true" : "false") +
           "}";
}

std::string snapshotText(const std::string& created, const std::string& label, const Status& st,
                         const std::vector<std::string>& domainEntries,
                         const std::vector<std::string>& ips, const std::vector<std::string>& snis,
                         const std::vector<std::string>& cellEntries,
                         const std::vector<std::string>& basics, const std::string& ipinfo) {
    return "{\"v\":1,\"created\":" + jsonString(created) + ",\"label\":" + jsonString(label) +
           ",\"status\":{\"k\":" + jsonString(st.k) + ",\"txt\":" + jsonString(st.txt) +
           "},\"domains\":[" + join(domainEntries) + "],\"matrix\":{\"ips\":" + quotedList(ips) +
           ",\"snis\":" + quotedList(snis) + ",\"cells\":[" + join(cellEntries) +
           "]},\"basics\":[" + join(basics) + "],\"ipinfo\":" + ipinfo + "}";
}

std::string snapshotIpInfo(const std::string& body) {
    const auto j = parseJson(body);
    if (!j || j->type != Json::Type::Object || j->getString("status") != "success")
        return "{\"error\":true}";
    // Absent fields are left out, as the page's serialiser drops undefined values.
    std::string s = "{";
    bool first = true;
    const std::pair<const char*, const char*> keys[] = {
        {"ip", "query"}, {"isp", "isp"}, {"org", "org"}, {"as", "as"}, {"city", "city"}, {"country", "country"}};
    for (const auto& [out, in] : keys) {
        const Json* v = j->get(in);
        if (!v)
            continue;
        if (!first)
            s += ',';
        first = false;
        s += jsonString(out);
        s += ':';
        s += v->type == Json::Type::String ? jsonString(v->str) : jsonString("");
    }
    return s + "}";
}

// --- domains ---------------------------------------------------------------

DomainRun::DomainRun(Renderer& r, std::vector<DomainRow> rows) : r_(r), rows_(std::move(rows)) {
    r_.line(padCell("Домен", 26) + " " + padCell("Группа", 7) + " " + padCell("IP", 15) + " " +
            padCell("DNS", 9) + " " + padCell("TCP", 11) + " " + padCell("TLS", 11) + " " +
            padCell("HTTP", 13) + " " + padCell("Сертификат", 26) + " Вердикт");
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
            const ResultCells c = resultCells(m);
            const std::string v = m.getString("verdict");
            std::string line = padCell(rows_[idx].host, 26) + " " + padCell(rows_[idx].group, 7) +
                               " " + padCell(c.ip, 15) + " " +
                               r_.stateColour(m.getString("dns"), padCell(c.dns, 9)) + " " +
                               r_.stateColour(m.getString("tcp"), padCell(c.tcp, 11)) + " " +
                               r_.stateColour(m.getString("tls"), padCell(c.tls, 11)) + " " +
                               r_.stateColour(m.getString("http"), padCell(c.http, 13)) + " " +
                               padCell(c.cert, 26) + " " + r_.verdictColour(v, v);
            if (!m.getString("tlsDetail").empty())
                line += " " + r_.muted("(" + m.getString("tlsDetail") + ")");
            r_.line(line);
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
        r_.line(padCell(groupTitle(g), 16) + " " + std::to_string(ok) + " / " +
                std::to_string(tot) + " · проходят");
    }
    const Status st = calcStatus(rows_);
    r_.line("");
    r_.line("Статус: " + r_.verdictColour(st.k == "open" ? "pass" : st.k == "wl" ? "partial"
                                           : st.k == "part" ? "reach" : st.k == "dead" ? "blocked" : "",
                                           st.txt));
    if (cancelled_)
        r_.line(r_.muted("Остановлено: " + std::to_string(done_) + " / " + std::to_string(rows_.size())));
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
                     std::set<std::string> white)
    : r_(r), ips_(std::move(ips)), snis_(std::move(snis)), white_(std::move(white)) {}

void MatrixRun::onMessage(const Json& m, const std::string& raw) {
    const std::string t = m.getString("t");
    if (t == "msg") {
        r_.notice(m.getString("text"));
    } else if (t == "res") {
        r_.raw(raw);
        ++done_;
        const std::string key = m.getString("host") + "|" + m.getString("sni");
        cells_[key] = MatrixCell{m.getString("verdict"), m.getString("tcp")};
        cellEntries_.push_back("{\"ip\":" + jsonString(m.getString("host")) + ",\"sni\":" +
                               jsonString(m.getString("sni")) + ",\"verdict\":" +
                               jsonString(m.getString("verdict")) + ",\"tcp\":" +
                               jsonString(m.getString("tcp")) + ",\"tls\":" +
                               jsonString(m.getString("tls")) +
                               ",\"tlsMs\":" + std::to_string(m.getInt("tlsMs", -1)) + "}");
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
        w0 = std::max(w0, ip.size());
    std::string head = padCell("IP \\ SNI", w0);
    std::vector<size_t> widths;
    for (const auto& s : snis_) {
        const std::string label = s == "-" ? "∅" : s;
        widths.push_back(std::max<size_t>(6, codePoints(label)));
        head += "  " + padCell(label, widths.back());
    }
    r_.line(head);
    for (const auto& ip : ips_) {
        std::string row = padCell(ip, w0);
        for (size_t j = 0; j < snis_.size(); ++j) {
            const auto it = cells_.find(ip + "|" + (snis_[j] == "-" ? std::string() : snis_[j]));
            if (it == cells_.end()) {
                row += "  " + padCell("…", widths[j]);
            } else {
                row += "  " + r_.verdictColour(it->second.verdict,
                                               padCell(shortLabel(it->second.verdict), widths[j]));
            }
        }
        r_.line(row);
    }
    if (cancelled_) {
        r_.line(r_.muted("Остановлено: " + std::to_string(done_) + " / " +
                         std::to_string(ips_.size() * snis_.size())));
        return; // a stopped run gets no conclusions, as on the page
    }
    r_.line("");
    for (const auto& n : analyzeMatrix(ips_, snis_, cells_, white_)) {
        const std::string text = stripTags(n.text);
        const std::string tone = n.cls == "note good" ? "pass" : n.cls == "note warn" ? "partial" : "blocked";
        r_.line(r_.verdictColour(tone, n.ip.empty() ? text : n.ip + " — " + text));
    }
}

bool MatrixRun::anyPassed() const {
    for (const auto& [k, c] : cells_)
        if (okVerdict(c.verdict))
            return true;
    return false;
}

std::string MatrixRun::snapshot(const std::string& label, const std::string& created) const {
    return snapshotText(created, label, calcStatus({}), {}, ips_, snis_, cellEntries_, {}, "null");
}

// --- basics ----------------------------------------------------------------

BasicsRun::BasicsRun(Renderer& r) : r_(r) {}

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
        r_.line(padCell(m.getString("group"), 14) + " " + padCell(m.getString("name"), 26) + " " +
                r_.stateColour(st, padCell(st.empty() || st == "skip" ? "—" : st, 8)) + " " +
                padCell(ms >= 0 ? std::to_string(ms) : "—", 6) + " " + m.getString("detail"));
        r_.progress(done_, 13);
    } else if (t == "ipinfo") {
        r_.raw(raw);
        ++done_;
        const std::string body = m.getString("body");
        ipinfo_ = snapshotIpInfo(body);
        const auto j = parseJson(body);
        r_.line("");
        if (j && j->getString("status") == "success") {
            r_.line("Твой выход в интернет: " + j->getString("query") + " · " + j->getString("isp") +
                    " · " + j->getString("as") + " · " + j->getString("city") + ", " +
                    j->getString("country"));
        } else {
            r_.line("Данные о выходе в интернет получить не удалось. ip-api.com недоступен — при "
                    "белых списках это нормально.");
        }
    } else if (isDone(m)) {
        r_.raw(raw);
        if (m.getBool("cancelled"))
            r_.line(r_.muted("Остановлено"));
    }
}

void BasicsRun::finish() { r_.endProgress(); }

bool BasicsRun::anyPassed() const { return ok_ > 0; }

std::string BasicsRun::snapshot(const std::string& label, const std::string& created) const {
    return snapshotText(created, label, calcStatus({}), {}, {}, {}, {}, basics_, ipinfo_);
}

// --- raw scan ----------------------------------------------------------------

ScanRun::ScanRun(Renderer& r) : r_(r) {
    r_.line(padCell("Хост", 22) + " " + padCell("SNI", 22) + " " + padCell("IP", 15) + " " +
            padCell("DNS", 9) + " " + padCell("TCP", 11) + " " + padCell("TLS", 11) + " " +
            padCell("HTTP", 13) + " " + padCell("Сертификат", 24) + " Вердикт");
}

void ScanRun::onMessage(const Json& m, const std::string& raw) {
    const std::string t = m.getString("t");
    if (t == "msg") {
        r_.notice(m.getString("text"));
    } else if (t == "res") {
        r_.raw(raw);
        results_[static_cast<size_t>(m.getInt("idx"))] = m;
        const ResultCells c = resultCells(m);
        const std::string v = m.getString("verdict");
        std::string line = padCell(m.getString("host"), 22) + " " +
                           padCell(m.getString("sni").empty() ? "∅" : m.getString("sni"), 22) +
                           " " + padCell(c.ip, 15) + " " +
                           r_.stateColour(m.getString("dns"), padCell(c.dns, 9)) + " " +
                           r_.stateColour(m.getString("tcp"), padCell(c.tcp, 11)) + " " +
                           r_.stateColour(m.getString("tls"), padCell(c.tls, 11)) + " " +
                           r_.stateColour(m.getString("http"), padCell(c.http, 13)) + " " +
                           padCell(c.cert, 24) + " " + r_.verdictColour(v, v);
        if (!m.getString("tlsDetail").empty())
            line += " " + r_.muted("(" + m.getString("tlsDetail") + ")");
        r_.line(line);
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
