// Test helpers for the UI bridge. UiRecorder is a recording UI sink: every
// message posted while a UiRecorder lives is kept in order, and a test can
// wait (bounded) for the `done` of a run. One process-wide sink is installed once and forwards to the live
// recorder under a mutex, so replacing recorders never races with a run
// thread that is still inside postUiMessage.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/log.h"
#include "base/paths.h"
#include "bridge/ui_sink.h"

namespace tv::test {

class UiRecorder {
public:
    UiRecorder() {
        installOnce();
        std::lock_guard<std::mutex> g(hub().mu);
        hub().live = this;
    }
    ~UiRecorder() {
        std::lock_guard<std::mutex> g(hub().mu);
        if (hub().live == this)
            hub().live = nullptr;
    }
    UiRecorder(const UiRecorder&) = delete;
    UiRecorder& operator=(const UiRecorder&) = delete;

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> g(hub().mu);
        return messages_;
    }

    // Called on the posting thread for each message, before it is recorded and
    // while the recorder's lock is held (so it must not wait on the recorder).
    void setTap(std::function<void(const std::string&)> tap) {
        std::lock_guard<std::mutex> g(hub().mu);
        tap_ = std::move(tap);
    }

    void clear() {
        std::lock_guard<std::mutex> g(hub().mu);
        messages_.clear();
    }

    // Waits until `pred(messages)` holds; false when `limit` passed first.
    bool waitUntil(const std::function<bool(const std::vector<std::string>&)>& pred,
                   std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lk(hub().mu);
        return hub().cv.wait_for(lk, limit, [&] { return pred(messages_); });
    }

    // Waits for the first `done` of `run`.
    bool waitForDone(int32_t run, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const std::string prefix = donePrefix(run);
        return waitUntil(
            [&](const std::vector<std::string>& ms) {
                for (const auto& m : ms)
                    if (m.rfind(prefix, 0) == 0)
                        return true;
                return false;
            },
            limit);
    }

    // Waits for `count` messages of kind `t`.
    bool waitForKind(std::string_view t, size_t count,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return waitUntil([&](const std::vector<std::string>& ms) { return countKind(ms, t) >= count; },
                         limit);
    }

    static std::string donePrefix(int32_t run) {
        std::string p = "{\"t\":\"done\",\"run\":";
        return (p += std::to_string(run)) += ",";
    }

    // The messages of kind `t`, in order.
    static std::vector<std::string> ofKind(const std::vector<std::string>& ms, std::string_view t) {
        std::vector<std::string> out;
        for (const auto& m : ms)
            if (kindOf(m) == t)
                out.push_back(m);
        return out;
    }
    static size_t countKind(const std::vector<std::string>& ms, std::string_view t) {
        return ofKind(ms, t).size();
    }

    // The `t` of a message built by our builders ({"t":"kind",...}).
    static std::string kindOf(std::string_view m) {
        constexpr std::string_view head = "{\"t\":\"";
        if (m.rfind(head, 0) != 0)
            return {};
        const size_t end = m.find('"', head.size());
        return std::string(m.substr(head.size(), end - head.size()));
    }

    // The raw JSON value of `key` in a flat message: a number, true/false, or
    // a string with its quotes and escapes. Empty when the key is missing.
    // Good for messages whose string values hold no `,"key":` of their own.
    static std::string field(std::string_view m, std::string_view key) {
        std::string pat = ",\"";
        (pat += key) += "\":";
        const size_t at = m.find(pat);
        if (at == std::string_view::npos)
            return {};
        size_t i = at + pat.size();
        const size_t start = i;
        if (i < m.size() && m[i] == '"') {
            for (++i; i < m.size() && m[i] != '"'; ++i)
                if (m[i] == '\\')
                    ++i;
            return std::string(m.substr(start, i + 1 - start));
        }
        while (i < m.size() && m[i] != ',' && m[i] != '}')
            ++i;
        return std::string(m.substr(start, i - start));
    }

private:
    struct Hub {
        std::mutex mu;
        std::condition_variable cv;
        UiRecorder* live = nullptr;
    };
    // Never destroyed: a detached run thread may still be returning from the
    // sink while the process exits.
    static Hub& hub() {
        static Hub* h = new Hub;
        return *h;
    }
    static void installOnce() {
        static const bool installed = [] {
            setUiSink([](std::string m) {
                Hub& h = hub();
                // Notified under the lock, so a waiter that wakes is ordered after
                // everything this (possibly detached) run thread did here.
                std::lock_guard<std::mutex> g(h.mu);
                if (h.live) {
                    if (h.live->tap_)
                        h.live->tap_(m);
                    h.live->messages_.push_back(std::move(m));
                }
                h.cv.notify_all();
            });
            return true;
        }();
        (void)installed;
    }

    std::vector<std::string> messages_;
    std::function<void(const std::string&)> tap_;
};

// True when probe.log holds `message` as one whole line. Test processes share
// the log file, so look for lines with a distinctive text.
inline bool logHasLine(const std::string& message) {
    std::ifstream in(joinPath(executableDir(), "probe.log"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string line = "] ";
    (line += message) += kLogLineEnd;
    return text.find(line) != std::string::npos;
}

// A fresh, empty scratch directory per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("tv-bridge-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // UTF-8 text of the path, as the program keeps paths.
    std::string str() const {
        const auto u8 = path_.u8string();
        return std::string(u8.begin(), u8.end());
    }
    std::filesystem::path at(const std::string& utf8Name) const {
        return path_ / std::filesystem::path(
                           std::u8string(utf8Name.begin(), utf8Name.end()));
    }
    void put(const std::string& utf8Name, const std::string& bytes) const {
        std::ofstream(at(utf8Name), std::ios::binary) << bytes;
    }
    std::string get(const std::string& utf8Name) const {
        std::ifstream in(at(utf8Name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path path_;
};

} // namespace tv::test
