#include "probe/basic_checks.h"

#include <future>
#include <system_error>
#include <vector>

#include "probe/dns_encrypted.h"
#include "probe/dns_forensics.h"
#include "probe/net.h"
#include "probe/probe.h"

namespace tv {

namespace {

NetCheckResult fromStage(const char* group, const char* name, const StageOutcome& o) {
    NetCheckResult n;
    n.group = group;
    n.name = name;
    n.state = stateWord(o.state);
    n.detail = o.detail;
    n.ms = o.ms;
    return n;
}

// The encrypted checks of one run: DoT to each resolver (asking the UDP
// name and the whoami name at once), then DoH to each (the UDP name). They
// run side by side, so resolvers whose encrypted DNS is dropped cost one
// time-out in all instead of one each. A thread the system refuses becomes
// a deferred call, made when its result is needed.
class SecureChecks {
public:
    explicit SecureChecks(int32_t timeoutMs) {
        for (int k = 0; k < kBasicSecureChecks; ++k) {
            const BasicResolver& r = kBasicResolvers[k % 4];
            const DnsTransport t = k < 4 ? DnsTransport::Dot : DnsTransport::Doh;
            std::vector<std::string> names{kBasicUdpQueryName};
            if (t == DnsTransport::Dot)
                names.push_back(kWhoamiName);
            auto job = [t, target = SecureDnsTarget{r.address, r.serverName},
                        names = std::move(names),
                        timeoutMs] { return querySecureDns(t, target, names, timeoutMs); };
            try {
                jobs_.push_back(std::async(std::launch::async, job).share());
            } catch (const std::system_error&) {
                jobs_.push_back(std::async(std::launch::deferred, job).share());
            }
        }
    }
    // Waits for every check still running: nothing outlives the call.
    ~SecureChecks() {
        for (auto& j : jobs_)
            j.wait();
    }
    const SecureDnsOutcome& dot(size_t i) { return jobs_[i].get(); }
    const SecureDnsOutcome& doh(size_t i) { return jobs_[4 + i].get(); }

private:
    std::vector<std::shared_future<SecureDnsOutcome>> jobs_;
};

NetCheckResult fromSecure(const char* group, const char* name, const SecureDnsOutcome& o) {
    return fromStage(group, name, o.stage);
}

// The UDP row of resolver `i`: its answer for the UDP name as today, and,
// when the resolver answered, the interception finding from the whoami
// name over UDP and over DoT.
NetCheckResult udpRow(size_t i, SecureChecks& secure, int32_t timeoutMs) {
    const BasicResolver& r = kBasicResolvers[i];
    NetCheckResult n =
        fromStage(kGroupUdpDns, r.udpLabel, queryDnsUdp(r.address, kBasicUdpQueryName, timeoutMs));
    n.intercept = kSkip;
    if (n.state != stateWord(State::Ok))
        return n; // nothing answers on UDP: nothing to compare
    const DnsAnswerSet udp = queryDnsUdpAll(r.address, kWhoamiName, timeoutMs);
    if (udp.state != State::Ok)
        return n;
    const SecureDnsOutcome& dot = secure.dot(i);
    if (dot.answers.size() < 2)
        return n;
    const InterceptFinding f = judgeInterception(udp, dot.answers[1]);
    n.intercept = f.word;
    n.detail += f.note;
    return n;
}

} // namespace

void runBasicChecks(int32_t timeoutMs, const std::function<void(const NetCheckResult&)>& onResult,
                    const std::atomic<bool>& cancel) {
    for (const char* name : kBasicLookupNames) {
        if (cancel.load())
            return;
        const ResolveOutcome o = resolveHost(name);
        NetCheckResult n = fromStage(kGroupSystemDns, name, o.stage);
        if (o.found)
            n.detail = formatIPv4(o.addr.addrBe);
        onResult(n);
    }
    if (cancel.load())
        return;
    SecureChecks secure(timeoutMs);
    for (size_t i = 0; i < std::size(kBasicResolvers); ++i) {
        if (cancel.load())
            return;
        onResult(udpRow(i, secure, timeoutMs));
    }
    for (const BasicResolver& r : kBasicResolvers) {
        if (cancel.load())
            return;
        Ipv4Address addr;
        parseIPv4(r.address, addr.addrBe);
        // The connection is closed at once, with the outcome.
        onResult(
            fromStage(kGroupTcp443, r.tcpLabel, connectWithTimeout(addr, 443, timeoutMs).stage));
    }
    for (size_t i = 0; i < std::size(kBasicResolvers); ++i) {
        if (cancel.load())
            return;
        onResult(fromSecure(kGroupDot, kBasicResolvers[i].dotLabel, secure.dot(i)));
    }
    for (size_t i = 0; i < std::size(kBasicResolvers); ++i) {
        if (cancel.load())
            return;
        onResult(fromSecure(kGroupDoh, kBasicResolvers[i].serverName, secure.doh(i)));
    }
}

} // namespace tv
