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
    // Whether rows carry the transfer test's column.
    void setXferColumn(bool on) { xfer_ = on; }
    bool xferColumn() const { return xfer_; }
    // The heading of the verdict and, when shown, the transfer column.
    std::string verdictHeading() const;

private:
    bool json_, colour_, progress_;
    bool progressShown_ = false;
    bool xfer_ = false;
    std::chrono::steady_clock::time_point start_;
};

// The items with ", " between them.
std::string joinList(const std::vector<std::string>& items);

// The items with `sep` between them.
std::string joinWith(const std::vector<std::string>& items, char sep);

// Pads to `width` display columns (code points), cutting longer text.
std::string padCell(const std::string& text, size_t width);

// One probe result as the table cells the page shows.
struct ResultCells {
    std::string ip, dns, tcp, tls, http, cert;
};
ResultCells resultCells(const Json& res);

// The browser hellos' keys of a res message (or of a vector case's cell).
HelloView helloViewOf(const Json& res);

// The hello token ("L+C-F+") with each mark coloured by its outcome.
std::string helloTokenCell(const Renderer& r, const HelloView& h, size_t width);

// The columns of one result after the host columns: IP, the stage cells, the
// certificate (padded to `certWidth`), the hello token when `hello`, the
// verdict and the detail text.
std::string resultRow(const Renderer& r, const Json& res, size_t certWidth, bool hello = false);

// The header of the hello column.
inline constexpr const char* kHelloColumn = "Отпечаток";
inline constexpr size_t kHelloWidth = 9;

// One command's view of its run: it takes the UI messages as they come, ends
// with the conclusions, and knows whether anything passed and what its
// snapshot holds.
class RunView {
public:
    explicit RunView(Renderer& r) : r_(r) {}
    virtual ~RunView() = default;
    virtual void onMessage(const Json& m, const std::string& raw) = 0;
    virtual void finish() = 0;
    virtual bool anyPassed() const = 0;
    virtual std::string snapshot(const std::string& label, const std::string& created) const = 0;
    bool cancelled() const { return cancelled_; }

protected:
    Renderer& r_;
    size_t done_ = 0;
    bool cancelled_ = false;
};

class DomainRun : public RunView {
public:
    DomainRun(Renderer& r, std::vector<DomainRow> rows, bool hello = false);
    void onMessage(const Json& m, const std::string& raw) override;
    void finish() override;
    bool anyPassed() const override;
    std::string snapshot(const std::string& label, const std::string& created) const override;

private:
    std::vector<DomainRow> rows_;
    std::map<size_t, Json> results_;
    bool hello_;
};

class MatrixRun : public RunView {
public:
    // `randomName`: the made-up name this run sends for the "?" entry of `snis`.
    MatrixRun(Renderer& r, std::vector<std::string> ips, std::vector<std::string> snis,
              std::set<std::string> white, std::string randomName = {});
    void onMessage(const Json& m, const std::string& raw) override;
    void finish() override;
    bool anyPassed() const override;
    std::string snapshot(const std::string& label, const std::string& created) const override;

private:
    std::string jobName(const std::string& entry) const;
    std::vector<std::string> ips_, snis_;
    std::set<std::string> white_;
    std::string random_;
    std::map<std::string, MatrixCell> cells_;
    std::vector<std::string> cellEntries_; // in arrival order
};

class BasicsRun : public RunView {
public:
    explicit BasicsRun(Renderer& r);
    void onMessage(const Json& m, const std::string& raw) override;
    void finish() override;
    bool anyPassed() const override;
    std::string snapshot(const std::string& label, const std::string& created) const override;

private:
    std::vector<std::string> basics_;      // net messages as received
    std::vector<std::string> intercepted_; // names of the UDP/53 rows read as intercepted
    std::string ipinfo_ = "null";
    int ok_ = 0;
};

class ScanRun : public RunView {
public:
    explicit ScanRun(Renderer& r, bool hello = false);
    void onMessage(const Json& m, const std::string& raw) override;
    void finish() override;
    bool anyPassed() const override;
    std::string snapshot(const std::string& label, const std::string& created) const override;
    size_t results() const { return results_.size(); }

private:
    std::map<size_t, Json> results_;
    bool hello_;
};

} // namespace tv::cli
