// What the front shows of each run: tables on a terminal or in a pipe, JSON
// Lines with --json, a progress line on standard error, and the snapshot in
// the page's file format.
#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/json.h"
#include "cli/rules.h"

namespace tv::cli {

class Renderer {
public:
    Renderer(bool json, bool stdoutTty, bool stderrTty, bool noColor);
    bool json() const { return json_; }
    // A line of the human-readable output (never in JSON mode).
    void line(const std::string& text);
    // A UI message as it came (JSON mode only).
    void raw(const std::string& message);
    // A notice for the user, on standard error.
    void notice(const std::string& text);
    void progress(size_t done, size_t total);
    void endProgress();
    std::string verdictColour(const std::string& verdict, const std::string& text) const;
    std::string stateColour(const std::string& state, const std::string& text) const;
    std::string muted(const std::string& text) const;

private:
    bool json_, colour_, progress_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point start_;
};

// Pads to `width` display columns (code points), cutting longer text.
std::string padCell(const std::string& text, size_t width);

// One probe result as the table cells the page shows.
struct ResultCells {
    std::string ip, dns, tcp, tls, http, cert;
};
ResultCells resultCells(const Json& res);

// The snapshot's `domains` entry for a result.
std::string snapshotDomainEntry(const std::string& host, const std::string& group, const Json& res);

// The whole snapshot in the page's key order.
std::string snapshotText(const std::string& created, const std::string& label, const Status& st,
                         const std::vector<std::string>& domainEntries,
                         const std::vector<std::string>& ips, const std::vector<std::string>& snis,
                         const std::vector<std::string>& cellEntries,
                         const std::vector<std::string>& basics, const std::string& ipinfo);

// The snapshot's `ipinfo` value for a lookup body: the outcome object, or
// {"error":true} when the body is no success object.
std::string snapshotIpInfo(const std::string& body);

class DomainRun {
public:
    DomainRun(Renderer& r, std::vector<DomainRow> rows);
    void onMessage(const Json& m, const std::string& raw);
    void finish();
    bool anyPassed() const;
    std::string snapshot(const std::string& label, const std::string& created) const;

private:
    Renderer& r_;
    std::vector<DomainRow> rows_;
    std::map<size_t, Json> results_;
    size_t done_ = 0;
    bool cancelled_ = false;
};

class MatrixRun {
public:
    MatrixRun(Renderer& r, std::vector<std::string> ips, std::vector<std::string> snis,
              std::set<std::string> white);
    void onMessage(const Json& m, const std::string& raw);
    void finish();
    bool anyPassed() const;
    std::string snapshot(const std::string& label, const std::string& created) const;

private:
    Renderer& r_;
    std::vector<std::string> ips_, snis_;
    std::set<std::string> white_;
    std::map<std::string, MatrixCell> cells_;
    std::vector<std::string> cellEntries_; // in arrival order
    size_t done_ = 0;
    bool cancelled_ = false;
};

class BasicsRun {
public:
    explicit BasicsRun(Renderer& r);
    void onMessage(const Json& m, const std::string& raw);
    void finish();
    bool anyPassed() const;
    std::string snapshot(const std::string& label, const std::string& created) const;

private:
    Renderer& r_;
    std::vector<std::string> basics_; // net messages as received
    std::string ipinfo_ = "null";
    int ok_ = 0;
    size_t done_ = 0;
};

class ScanRun {
public:
    explicit ScanRun(Renderer& r);
    void onMessage(const Json& m, const std::string& raw);
    void finish();
    bool anyPassed() const;
    size_t results() const { return results_.size(); }
    bool cancelled() const { return cancelled_; }
    std::string snapshot(const std::string& label, const std::string& created) const;

private:
    Renderer& r_;
    std::map<size_t, Json> results_;
    bool cancelled_ = false;
};

} // namespace tv::cli
