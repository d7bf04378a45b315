// The page's reading rules, in C++ for the command-line front: the grouped
// domain list format, the overall status (the header pill) and the per-address
// conclusions of the address-by-SNI matrix. Texts and thresholds are the
// page's own; shared test vectors keep the two in step.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tv::cli {

struct DomainRow {
    std::string host;                   // lower case
    std::string group;                  // "custom" before the first group comment
    std::optional<std::string> verdict; // set once a result arrived
};

// Lines trimmed, empty ones skipped; "# ... [id] ..." sets the group (id in
// lower case); other lines are hosts, lower-cased. Duplicates stay.
std::vector<DomainRow> parseDomainList(const std::string& text);

// "pass" and "reach" count as passing.
bool okVerdict(const std::string& verdict);

struct GroupRate {
    int ok = 0;
    int total = 0; // rows of the group that have a result
    double rate = 0;
};
std::optional<GroupRate> groupRate(const std::string& group, const std::vector<DomainRow>& rows);

struct Status {
    std::string k;   // unk, dead, open, wl, part
    std::string txt; // the pill text
};
Status calcStatus(const std::vector<DomainRow>& rows);

// Lines of a matrix list: everything from the first '#' cut (with the blanks
// before it), trimmed, empty lines dropped.
std::vector<std::string> parseMatrixLines(const std::string& text);

// A transfer-test finding as the res message carries it (empty `word`: the
// test did not run).
struct XferView {
    std::string word, down, up;
    int64_t downBytes = -1, upBytes = -1;
    int64_t downKbps = -1, upKbps = -1;
};

// The browser hellos of a result as its res message carries them (hello.h's
// words); `mode` is empty when only the library's handshake ran.
struct HelloView {
    std::string mode;    // "chrome", "firefox", "all"
    std::string lib;     // the result's own `tls` word
    std::string chrome;  // helloChrome
    std::string firefox; // helloFirefox
};

struct MatrixCell {
    std::string verdict;
    std::string tcp;
    HelloView hello;
    XferView xfer;
    int tries = 1; // repeated tries: their count and how many passed
    int passes = 0;
};

// The SNI list's entry for a made-up name, replaced by a fresh one each run.
inline constexpr const char* kRandomSni = "?";

// A fresh made-up name: ten random lower-case letters and a common top-level
// domain, a name no list can hold.
std::string randomSniName();

// "нестабильно k/N" when the tries of a result disagree, else empty.
std::string unstableText(int tries, int passes);

// Findings that mean a tunnel to the address will not work.
bool xferBad(const XferView& x);

// "64 КБ ✓", "ЗАМОРОЗКА ↓≈16 КБ", "МЕДЛЕННО ↑140 кбит/с", "мало данных", ...;
// "—" when the test did not run. The page shows the same words.
std::string xferText(const XferView& x);

// "L+C-F+": every shape that ran, "+" passed (the server answered), "-" cut
// (reset or time-out), "?" anything else; empty for the library alone.
std::string helloToken(const HelloView& h);

// The key to the tokens, for plain output.
extern const char* const kHelloLegend;

struct MatrixNote {
    std::string ip;   // empty for the note that stands before all others
    std::string cls;  // "note good", "note warn", "note bad"
    std::string text; // as the page writes it, <b> tags included
};

// The note on the hello's shape for one address's cells, or nothing: when in
// some cell of mode "all" the library's hello passed and a browser hello was
// cut, or the reverse. Shapes cut in any such cell are named as cut, the
// others that passed as passing; no note when either list ends up empty.
// The note before all others when every handshake passed but a browser-shaped
// hello was cut toward some address.
inline constexpr const char* kHelloAllCut =
    "Рукопожатия библиотекой проходят, но на части адресов ClientHello браузера режется: белые "
    "списки <b>не сняты</b>, смотри заметки по адресам.";
std::optional<MatrixNote> helloNote(const std::string& ip,
                                    const std::vector<const MatrixCell*>& cells);

// The note on the kind of name filter of one address, from its random-name
// cell and its named cells: an allow-list (only white names pass, the random
// one is cut), a block-list (the random name passes, the foreign names cut are
// named) or none (everything passes); nothing otherwise. When the tries of any
// of these cells disagreed, the note says so instead of naming a kind.
std::optional<MatrixNote>
nameNote(const std::string& ip, const MatrixCell& random,
         const std::vector<std::pair<std::string, const MatrixCell*>>& named,
         const std::set<std::string>& white);

// `cells` is keyed by address + "|" + name, the name empty for "-" and the
// made-up name `randomName` for the "?" entry. An address's name note goes
// first, then its hello note, then its other note; the "?" cell counts in
// none of the other notes.
std::vector<MatrixNote> analyzeMatrix(const std::vector<std::string>& ips,
                                      const std::vector<std::string>& snis,
                                      const std::map<std::string, MatrixCell>& cells,
                                      const std::set<std::string>& white,
                                      const std::string& randomName = {});

// What the warnings read of the basic test's rows and the domain rows.
struct BasicRow {
    std::string group, state;
    double ms = -1; // -1: no time
};
struct DomainProbe {
    std::string group, dns, tcp;
    double tcpMs = -1;
};

// Something local (a VPN, proxy or TUN) answers for the outside: at least
// three successful TCP connects to outside addresses, nine in ten of them in
// 3 ms or less. The connects are the basic test's "TCP:443" rows in state ok
// and the domain rows with tcp ok whose name went through DNS.
bool vpnSuspect(const std::vector<BasicRow>& basics, const std::vector<DomainProbe>& rows);
// The system resolver says "no such domain" for well-known names: of the
// rows in the groups ru, cloud and host, at least three nx and one ok.
bool dnsSuspect(const std::vector<DomainProbe>& rows);

inline constexpr const char* kVpnWarning =
    "<b>Похоже, активен VPN / прокси / TUN.</b> TCP-соединения с внешними адресами "
    "устанавливаются за 0–3 мс — так не бывает без локального перехвата трафика. Скан сейчас "
    "проверяет твой VPN, а не оператора. <b>Отключи VPN (v2rayN, Hiddify, sing-box и т.п.) и "
    "повтори</b>, иначе эталон получится ложным.";
inline constexpr const char* kDnsWarning =
    "<b>Системный DNS отдаёт «домен не найден» для известных сайтов</b>, а другие домены в это "
    "же время резолвятся. Это сбой или фильтрация DNS у оператора, а не блок по IP. Строки с "
    "<span class=\"chip nx\">nx</span> не говорят, режется ли сам адрес.";

// Removes the page's markup (<b>, <span …> and their ends) for plain output.
std::string stripTags(const std::string& html);

} // namespace tv::cli
