// The snapshot file the front saves, in the page's format and key order, so
// the window's History lists, shows and compares it like its own.
#pragma once

#include <string>
#include <vector>

#include "cli/json.h"
#include "cli/rules.h"

namespace tv::cli {

// The snapshot's `domains` entry for a result.
std::string snapshotDomainEntry(const std::string& host, const std::string& group, const Json& res);

// The snapshot's `matrix.cells` entry for a result.
std::string snapshotMatrixCell(const Json& res);

// The whole snapshot in the page's key order; with a made-up name, the
// matrix ends with "rand" (the name the list's "?" entry was sent as).
std::string snapshotText(const std::string& created, const std::string& label, const Status& st,
                         const std::vector<std::string>& domainEntries,
                         const std::vector<std::string>& ips, const std::vector<std::string>& snis,
                         const std::vector<std::string>& cellEntries,
                         const std::vector<std::string>& basics, const std::string& ipinfo,
                         const std::string& randomName = {});

// The snapshot's `ipinfo` value for a lookup body: the outcome object, or
// {"error":true} when the body is no success object.
std::string snapshotIpInfo(const std::string& body);

} // namespace tv::cli
