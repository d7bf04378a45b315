// Saved snapshots read back: the text report of one and the comparison of
// two, in the page's words and order, for the front's `report` and `compare`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/json.h"

namespace tv::cli {

// Seconds since the epoch of an ISO 8601 time as snapshots write it
// ("2026-12-09T10:15:00.123Z"; a "+03:00" style offset is read too), or
// nothing when it is not one.
std::optional<int64_t> parseIsoTime(const std::string& iso);

// The report lines of a snapshot, as the page reports what it shows, one
// line per "\n". The first line names the program and the snapshot's local
// time (`localTime` of parseIsoTime's result, "?" when unreadable) and its
// label; the rest is the page's report of the same results.
std::string snapshotReport(const Json& snap, const std::string& localTime);

// Both snapshots' heads (status, file name, local time, label), then one
// table per kind of row whose value changed: domains, address × name cells,
// the 16–20 KB test, the TLS fingerprint, the repeated tries, DNS swaps and
// UDP/53 interception, each headed "… : изменилось N из M".
std::string compareReport(const Json& a, const std::string& nameA, const std::string& timeA,
                          const Json& b, const std::string& nameB, const std::string& timeB);

} // namespace tv::cli
