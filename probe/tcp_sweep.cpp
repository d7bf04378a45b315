#include "probe/tcp_sweep.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "probe/errors.h"
#include "probe/net.h"
#include "probe/result.h"
#include "probe/sock.h"

namespace tv {
namespace {

constexpr int32_t kCancelSliceMs = 100;

struct Pending {
    size_t index = 0;
    Socket sock;
    Clock::time_point start;
};

} // namespace

void sweepTcp(const std::vector<uint32_t>& addrsBe, int port, int32_t timeoutMs,
              const std::atomic<bool>& cancel,
              const std::function<void(size_t index, const StageOutcome& tcp)>& onOutcome) {
    const uint16_t portBe = hostToNet16(static_cast<uint16_t>(port));
    std::vector<Pending> pending;
    size_t next = 0;
    for (;;) {
        if (cancel.load())
            return;
        // Start connects until the wait set is full.
        while (next < addrsBe.size() && pending.size() < kMaxWaitSockets) {
            const size_t i = next++;
            Pending p;
            p.index = i;
            p.start = clockNow();
            StageOutcome st;
            int err = 0;
            p.sock = Socket(sockOpen(SockKind::Tcp, err));
            if (!p.sock.valid()) {
                st.state = State::Fail;
                st.detail = socketErrorText(err);
                onOutcome(i, st);
                continue;
            }
            sockSetNonBlocking(p.sock.get(), true);
            err = sockConnect(p.sock.get(), addrsBe[i], portBe);
            if (err == 0) {
                st.state = State::Ok;
                st.ms = elapsedMs(p.start);
                onOutcome(i, st);
                continue;
            }
            if (err != kWsaWouldBlock) {
                st.state = tcpStateImmediate(err);
                st.detail = socketErrorText(err);
                st.ms = elapsedMs(p.start);
                onOutcome(i, st);
                continue;
            }
            pending.push_back(std::move(p));
        }
        if (pending.empty())
            return;

        // Wait until the earliest deadline, in slices short enough for a cancel.
        const auto now = clockNow();
        int32_t wait = kCancelSliceMs;
        for (const Pending& p : pending)
            wait = std::min(wait, std::max<int32_t>(0, timeoutMs - elapsedMs(p.start, now)));
        SocketHandle handles[kMaxWaitSockets];
        uint8_t ready[kMaxWaitSockets];
        for (size_t k = 0; k < pending.size(); ++k)
            handles[k] = pending[k].sock.get();
        const int rc = sockWaitConnects(handles, pending.size(), wait, ready);
        const auto after = clockNow();

        std::vector<Pending> still;
        still.reserve(pending.size());
        for (size_t k = 0; k < pending.size(); ++k) {
            Pending& p = pending[k];
            StageOutcome st;
            if (rc > 0 && ready[k] != 0) {
                st.ms = elapsedMs(p.start, after);
                const int err = sockPendingError(p.sock.get());
                if (err != 0 || ready[k] == 2) {
                    st.state = tcpStateAfterWait(err);
                    st.detail = socketErrorText(err);
                } else {
                    st.state = State::Ok;
                }
            } else if (rc < 0 || elapsedMs(p.start, after) >= timeoutMs) {
                // As connectWithTimeout: a failed wait counts as the time-out.
                st.state = State::Timeout;
                st.ms = elapsedMs(p.start, after);
            } else {
                still.push_back(std::move(p));
                continue;
            }
            p.sock.close();
            onOutcome(p.index, st);
        }
        pending = std::move(still);
    }
}

std::vector<uint32_t> resolveNames(const std::vector<std::string>& names, int32_t threads,
                                   int32_t waitMs) {
    // Shared with the lookup threads, which may outlive the wait: a lookup
    // that hangs (a silent resolver) must not hold up the run.
    struct Lookups {
        std::vector<std::string> names;
        std::vector<uint32_t> out;
        size_t next = 0, done = 0;
        bool abandoned = false;
        std::mutex m;
        std::condition_variable cv;
    };
    auto st = std::make_shared<Lookups>();
    st->names = names;
    st->out.assign(names.size(), 0);
    auto work = [st] {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard<std::mutex> lock(st->m);
                if (st->abandoned || st->next >= st->names.size())
                    return;
                i = st->next++;
            }
            const ResolveOutcome dns = resolveHost(st->names[i]);
            {
                std::lock_guard<std::mutex> lock(st->m);
                if (dns.found)
                    st->out[i] = dns.addr.addrBe;
                ++st->done;
            }
            st->cv.notify_all();
        }
    };
    const size_t want = std::min(names.size(), static_cast<size_t>(std::max(1, threads)));
    size_t started = 0;
    for (size_t k = 0; k < want; ++k) {
        try {
            std::thread(work).detach();
            ++started;
        } catch (const std::system_error&) {
            break; // the threads there are share the names
        }
    }
    if (started == 0)
        return std::vector<uint32_t>(names.size(), 0);
    std::unique_lock<std::mutex> lock(st->m);
    st->cv.wait_for(lock, std::chrono::milliseconds(waitMs),
                    [&] { return st->done == st->names.size(); });
    st->abandoned = true;
    std::vector<uint32_t> out = st->out;
    // A name still being looked up counts as not found: its job resolves it
    // itself, as without the pre-phase.
    return out;
}

} // namespace tv
