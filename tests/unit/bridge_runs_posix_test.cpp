// Runs with the real probe engine against loopback only: 127.0.93.1 has no
// listener on port 443 (connections are refused at once); 127.0.93.2 and
// 127.0.93.3 (one per test, as CTest runs tests side by side) get a listener
// that accepts TCP and never answers the TLS handshake, so their probes stay
// in flight until their time-out.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "bridge/state.h"
#include "ui_recorder.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::UiRecorder;
using V = std::vector<std::string>;

constexpr const char* kRefusedHost = "127.0.93.1";
constexpr const char* kSilentHost = "127.0.93.2";
constexpr const char* kSilentHost2 = "127.0.93.3";

class SilentListener {
public:
    explicit SilentListener(const char* ip) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(443);
        ::inet_pton(AF_INET, ip, &a.sin_addr);
        // A run of the same test just before may leave the port busy briefly.
        for (int attempt = 0;; ++attempt) {
            if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                ::listen(fd_, 64) == 0)
                break;
            error_ = errno;
            if (fd_ < 0 || error_ != EADDRINUSE || attempt == 40)
                return;
            std::this_thread::sleep_for(50ms);
        }
        error_ = 0;
        thread_ = std::thread([this] { loop(); });
    }
    ~SilentListener() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int c : conns_)
            ::close(c);
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return error_ == 0 && fd_ >= 0; }
    int error() const { return error_; }
    bool waitAccepted(int n) {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, 20s, [&] { return static_cast<int>(conns_.size()) >= n; });
    }

private:
    void loop() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            std::lock_guard<std::mutex> g(mu_);
            conns_.push_back(c); // held open, never written to
            cv_.notify_all();
        }
    }
    int fd_ = -1;
    int error_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<int> conns_;
};

std::string jobs(std::initializer_list<std::pair<const char*, int>> groups) {
    std::string s;
    for (const auto& [host, n] : groups)
        for (int i = 0; i < n; ++i)
            (s += host) += "\n";
    return s;
}

std::string scan(int run, int timeoutMs, int workers, const std::string& list) {
    std::string s = "scan\t";
    (s += std::to_string(run)) += "\tdomains\t";
    (s += std::to_string(timeoutMs)) += "\t";
    (s += std::to_string(workers)) += "\t0\t";
    return s += list;
}

class LoopbackRuns : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(busyFlag().load());
        // The real probe engine; basic checks and the IP lookup would leave
        // loopback, so they stay inert here.
        setRunEngine({{},
                      [](int32_t, const std::function<void(const NetCheckResult&)>&,
                         const std::atomic<bool>&) {},
                      [](int32_t) { return std::string(); },
                      {},
                      {}});
        cancelFlag().store(false);
    }
    void TearDown() override {
        EXPECT_TRUE(rec.waitUntil([](const V&) { return !busyFlag().load(); }, 20s));
        setRunEngine({});
        cancelFlag().store(false);
    }
    V resOf(int run) {
        V out;
        for (const auto& m : UiRecorder::ofKind(rec.messages(), "res"))
            if (UiRecorder::field(m, "run") == std::to_string(run))
                out.push_back(m);
        return out;
    }
    void expectDoneLast(int run, bool cancelled) {
        ASSERT_TRUE(rec.waitForDone(run));
        const V ms = rec.messages();
        size_t last = 0;
        for (size_t i = 0; i < ms.size(); ++i)
            if (UiRecorder::field(ms[i], "run") == std::to_string(run))
                last = i;
        EXPECT_EQ(ms[last], buildDone(run, cancelled));
        EXPECT_FALSE(busyFlag().load());
    }
    UiRecorder rec;
};

TEST_F(LoopbackRuns, FortyEightWorkersFiveRefusedJobs) {
    dispatchCommand(scan(61, 2000, 48, jobs({{kRefusedHost, 5}})));
    expectDoneLast(61, false);
    const V res = resOf(61);
    ASSERT_EQ(res.size(), 5u);
    std::vector<bool> seen(5, false);
    for (const auto& m : res) {
        const int idx = std::stoi(UiRecorder::field(m, "idx"));
        ASSERT_TRUE(idx >= 0 && idx < 5);
        EXPECT_FALSE(seen[static_cast<size_t>(idx)]) << "index twice: " << idx;
        seen[static_cast<size_t>(idx)] = true;
        EXPECT_EQ(UiRecorder::field(m, "tcp"), "\"refused\"");
        EXPECT_EQ(UiRecorder::field(m, "verdict"), "\"blocked\"");
        EXPECT_EQ(UiRecorder::field(m, "ip"), "\"127.0.93.1\"");
    }
}

TEST_F(LoopbackRuns, CancelWhileProbesAreInFlight) {
    SilentListener silent(kSilentHost);
    if (!silent.ok())
        GTEST_SKIP() << "cannot listen on " << kSilentHost << ":443 (errno " << silent.error()
                     << ")";
    // One fast refusal, then silent targets that keep both workers waiting.
    dispatchCommand(scan(62, 1500, 2, jobs({{kRefusedHost, 1}, {kSilentHost, 8}})));
    ASSERT_TRUE(silent.waitAccepted(2));
    dispatchCommand("cancel");
    expectDoneLast(62, true);
    const V res = resOf(62);
    ASSERT_EQ(res.size(), 1u);
    EXPECT_EQ(UiRecorder::field(res[0], "host"), "\"127.0.93.1\"");
}

TEST_F(LoopbackRuns, SecondRequestIsRefusedWhileTheFirstProbes) {
    SilentListener silent(kSilentHost2);
    if (!silent.ok())
        GTEST_SKIP() << "cannot listen on " << kSilentHost2 << ":443 (errno " << silent.error()
                     << ")";
    dispatchCommand(scan(63, 500, 2, jobs({{kSilentHost2, 2}})));
    ASSERT_TRUE(silent.waitAccepted(1));
    dispatchCommand(scan(64, 500, 2, jobs({{kRefusedHost, 1}})));
    dispatchCommand("basics\t65\t500");
    ASSERT_TRUE(rec.waitForDone(64));
    ASSERT_TRUE(rec.waitForDone(65));
    expectDoneLast(63, false);
    const V ms = rec.messages();
    EXPECT_EQ(UiRecorder::countKind(ms, "msg"), 2u);
    EXPECT_EQ(UiRecorder::ofKind(ms, "msg")[0], buildMsg("Сканирование уже идёт"));
    EXPECT_EQ(resOf(64).size(), 0u);
    const V res = resOf(63);
    ASSERT_EQ(res.size(), 2u);
    for (const auto& m : res) // TCP opened, the handshake met silence
        EXPECT_EQ(UiRecorder::field(m, "verdict"), "\"dpi\"");
}

} // namespace
} // namespace tv
