// The two wire formats between the page and the native side.
//
// Page commands come in as one text per command, fields separated by TAB.
// UI messages go out as one JSON object per message, built by concatenation
// with a fixed key order, `t` first, no white space. There is no JSON parser
// on the native side; every string value goes through jsonQuote.
//
// Everything here is pure (no shared state) and callable on any thread. Text
// is UTF-8; input that is not valid UTF-8 is repaired (U+FFFD) on the way out,
// so every message is valid UTF-8 whatever its sources held.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "probe/probe.h"
#include "probe/result.h"

namespace tv {

// ---- JSON text -------------------------------------------------------------

// Escapes for a JSON string body: TAB, LF, CR, '"' and '\' get their short
// forms; every other byte below 0x20 becomes \u00xx (lower-case hex); all else
// (also '/', U+007F and everything non-ASCII) is copied as is. Ill-formed UTF-8
// becomes U+FFFD.
std::string jsonEscape(std::string_view text);

// '"' + jsonEscape(text) + '"'.
std::string jsonQuote(std::string_view text);

// ---- UI message builders (one per message kind) ----------------------------

struct FileEntry {
    std::string name; // file name only, no directory part
    uint64_t size = 0;
};

// {"t":"hello","project":..,"author":..,"version":..,"dir":<scans path>}; the
// window's hello appends "lang" when a language is stored (bridge/settings.h).
std::string buildHello(std::string_view scansDir);
// {"t":"res","run",..,"idx",..,"host".."verdict"} in the record's field order;
// then, when the DNS check was asked for, "dnsSpoof","dnsGenuine","dnsVia";
// then, when more than one try ran, "tries","passes"; last "tcpShared":true on a
// record that took its address's TCP outcome.
std::string buildRes(int32_t run, uint64_t idx, const ProbeResult& r);
// {"t":"net","run","group","name","state","detail","ms"}, then "intercept"
// on the rows that carry it (the UDP/53 rows).
std::string buildNet(int32_t run, const NetCheckResult& n);
// {"t":"ipinfo","run","body"}: the body up to its first NUL byte.
std::string buildIpInfo(int32_t run, std::string_view body);
// {"t":"done","run","cancelled"}
std::string buildDone(int32_t run, bool cancelled);
// {"t":"files","list":[{"name","size"},...]}; an empty list is "[]".
std::string buildFiles(const std::vector<FileEntry>& list);
// {"t":"saved","name"}
std::string buildSaved(std::string_view name);
// {"t":"file","name","data"}
std::string buildFile(std::string_view name, std::string_view data);
// {"t":"msg","text"}: a notice for the user.
std::string buildMsg(std::string_view text);

// ---- Page commands ---------------------------------------------------------
//
// Every command's name, the positions of its fields and a builder live here,
// so the page, the dispatcher and the command-line front agree on one layout.
// New fields of a command are appended after its last one, so older senders
// stay valid.

// The names that more than the dispatcher's table spells; the table
// (dispatcher.cpp) holds the whole set.
inline constexpr std::string_view kCmdScan = "scan";
inline constexpr std::string_view kCmdBasics = "basics";
inline constexpr std::string_view kCmdCancel = "cancel";
inline constexpr std::string_view kCmdSave = "save";
inline constexpr std::string_view kCmdLoad = "load";
inline constexpr std::string_view kCmdLang = "lang";

// scan  run  mode  timeout  threads  http  jobs  [xfer  hello  repeat  dnscheck]
// The options after `jobs` are optional: an older sender leaves them out and
// gets the defaults (fieldAt gives "" for a missing field).
struct ScanField {
    static constexpr size_t run = 1, mode = 2, timeout = 3, threads = 4, http = 5, jobs = 6;
    static constexpr size_t count = 7;
    // Optional, in the order they joined the command: "1" the transfer test;
    // "lib", "chrome", "firefox", "all" (hello_finding.h); tries per job;
    // "1" the swapped-DNS-answer check.
    static constexpr size_t xfer = 7, hello = 8, repeat = 9, dnscheck = 10;
};
// What a sender writes at an optional position it has no value for.
inline constexpr std::string_view kScanXferDefault = "0";
inline constexpr std::string_view kScanHelloDefault = "lib";
inline constexpr std::string_view kScanRepeatDefault = "1";
// basics  run  timeout
struct BasicsField {
    static constexpr size_t run = 1, timeout = 2;
    static constexpr size_t count = 3;
};
// save  name  text (the text may hold TABs: everything after the name)
struct SaveField {
    static constexpr size_t name = 1, text = 2;
    static constexpr size_t count = 3;
};
// load | delete  name
struct NameField {
    static constexpr size_t name = 1;
    static constexpr size_t count = 2;
};
// lang  word ("ru" or "en": the page's language, kept beside the scans)
struct LangField {
    static constexpr size_t lang = 1;
    static constexpr size_t count = 2;
};
// copy  text (everything after the name, TABs kept)
struct CopyField {
    static constexpr size_t text = 1;
    static constexpr size_t count = 2;
};

struct ScanRequest {
    int32_t run = 0;
    std::string mode; // only logged
    int32_t timeoutMs = 0;
    int32_t threads = 0;
    bool http = false;
    std::string jobs; // host|sni lines separated by LF
    bool xfer = false;
    // The swapped-DNS-answer check ("1" at `dnscheck`); when on, the optional
    // positions before it are written with their defaults.
    bool dnsCheck = false;
    HelloMode hello = HelloMode::Lib;
    int32_t repeat = 1; // tries per job (`repeat`)
};

// The command texts. A TAB inside a free-text field (mode, jobs) would start
// a new field, so it becomes a blank, as the page does it; the text of save
// and copy is taken whole (its TABs are kept by the reader).
std::string buildScanCommand(const ScanRequest& r);
std::string buildBasicsCommand(int32_t run, int32_t timeoutMs);
std::string buildSaveCommand(std::string_view name, std::string_view text);
std::string buildNameCommand(std::string_view command, std::string_view name);

// Field `i`, or "" when the command has fewer fields.
inline std::string_view fieldAt(const std::vector<std::string_view>& fields, size_t i) {
    return i < fields.size() ? fields[i] : std::string_view();
}

// Cuts at every TAB: N TABs give N+1 fields, empty fields included. The views
// point into `command`.
std::vector<std::string_view> splitCommand(std::string_view command);

// Field `first` and everything after it, as one text with the TABs between the
// fields kept (the text argument of "save" and "copy"). `fields` must come
// from splitCommand(command); empty when `first` is past the last field.
std::string_view commandRest(std::string_view command, const std::vector<std::string_view>& fields,
                             size_t first);

// Reads an integer field as C's wcstol(.., 10) reads it into a 32-bit long:
// leading white space (isWhiteSpace) skipped, an optional sign, ASCII digits
// up to the first other character; no digits gives 0; values beyond the
// 32-bit range give the nearest limit.
int32_t readInt32(std::string_view field);

// The HTTP flag: on only when the field is exactly "1".
inline bool readFlag(std::string_view field) {
    return field == "1";
}

// The white space of job-list trimming and integer reading, one fixed table
// on every platform: TAB, LF, VT, FF, CR, blank, U+0085, U+00A0 and, above
// U+00FF, the Unicode White_Space characters (U+1680, U+2000..U+200A, U+2028,
// U+2029, U+202F, U+205F, U+3000).
bool isWhiteSpace(char32_t cp);

// Trims isWhiteSpace characters at both ends.
std::string_view trimWhiteSpace(std::string_view s);

inline constexpr size_t kMaxJobs = 3000;

// The job list of "scan": one job per LF-separated line. Each line is trimmed;
// a line without '|' gives host = sni = the line; otherwise host = trimmed
// text before the first '|', sni = trimmed rest (may be empty, may hold more
// '|'). Lines with an empty host give no job and take no index. Parsing stops
// silently once `limit` jobs are taken. Ill-formed UTF-8 becomes U+FFFD.
std::vector<ProbeJob> parseJobList(std::string_view list, size_t limit = kMaxJobs);

} // namespace tv
