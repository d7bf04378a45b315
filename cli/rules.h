// The page's reading rules, in C++ for the command-line front: the grouped
// domain list format, the overall status (the header pill) and the per-address
// conclusions of the address-by-SNI matrix. Texts and thresholds are the
// page's own; shared test vectors keep the two in step.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tv::cli {

struct DomainRow {
    std::string host;  // lower case
    std::string group; // "custom" before the first group comment
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

struct MatrixCell {
    std::string verdict;
    std::string tcp;
};

struct MatrixNote {
    std::string ip;  // empty for the note that stands before all others
    std::string cls; // "note good", "note warn", "note bad"
    std::string text; // as the page writes it, <b> tags included
};

// `cells` is keyed by address + "|" + name, the name empty for "-".
std::vector<MatrixNote> analyzeMatrix(const std::vector<std::string>& ips,
                                      const std::vector<std::string>& snis,
                                      const std::map<std::string, MatrixCell>& cells,
                                      const std::set<std::string>& white);

// Removes the page's <b>…</b> tags for plain output.
std::string stripTags(const std::string& html);

} // namespace tv::cli
