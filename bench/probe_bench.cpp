// Probe engine throughput and CPU cost against a reference client.
//
// 3000 jobs (by default) go through probeTarget on 48 threads: TLS handshake,
// certificate check and one HTTP GET each. In the same run curl does the same
// work for every job through `xargs -P48`. Printed: probes per second and CPU
// time per probe for both, and their ratios.
//
// The servers: by default N `openssl s_server -www` processes that this
// program starts on loopback addresses 127.0.0.2.. (port 443) with a
// certificate from a throw-away CA, which both clients verify against
// (SSL_CERT_FILE for us, --cacert for curl); with --host a lab host is used
// instead. Our CPU is getrusage(RUSAGE_SELF); curl's is RUSAGE_CHILDREN of
// the xargs run (xargs, the shells and every curl process). The servers are
// reaped only after both measurements, so their CPU is in neither figure.
//
// It refuses to run outside the lab's client namespace: start it with
// tests/lab/in-lab.sh.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "probe/net.h"
#include "probe/probe.h"

namespace {

struct Options {
    int jobs = 3000;
    int threads = 48;
    int servers = 4;
    int timeoutMs = 5000;
    std::string host; // a lab host instead of local servers
};

bool inLabClient() {
    struct stat self {
    }, lab{};
    if (stat("/proc/self/ns/net", &self) != 0 || stat("/run/netns/tv-client", &lab) != 0)
        return false;
    return self.st_ino == lab.st_ino && self.st_dev == lab.st_dev;
}

double cpuSeconds(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

int run(const std::string& cmd) {
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// A CA and a server certificate for bench.test, ECDSA P-256.
bool makeCertificates(const std::string& dir) {
    const std::string sh =
        "cd '" + dir +
        "' && "
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 "
        "-subj '/CN=Tarnveil bench CA' -keyout ca.key -out ca.pem && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj '/CN=bench.test' "
        "-keyout leaf.key -out leaf.csr && "
        "printf 'subjectAltName=DNS:bench.test\\nextendedKeyUsage=serverAuth\\n' > ext.cnf && "
        "openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 "
        "-extfile ext.cnf -out leaf.pem";
    return run("(" + sh + ") >/dev/null 2>&1") == 0;
}

pid_t startServer(const std::string& dir, const std::string& addr) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string accept = addr + ":443";
        const std::string cert = dir + "/leaf.pem", key = dir + "/leaf.key";
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("openssl", "openssl", "s_server", "-quiet", "-www", "-accept", accept.c_str(),
               "-cert", cert.c_str(), "-key", key.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

bool waitListening(const std::string& addr) {
    tv::Ipv4Address a;
    tv::parseIPv4(addr, a.addrBe);
    for (int i = 0; i < 100; ++i) {
        if (tv::connectWithTimeout(a, 443, 200).socket.valid())
            return true;
        usleep(50000);
    }
    return false;
}

struct Figures {
    double wall = 0, cpu = 0;
    int good = 0;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--jobs")
            o.jobs = std::atoi(v.c_str());
        else if (k == "--threads")
            o.threads = std::atoi(v.c_str());
        else if (k == "--servers")
            o.servers = std::atoi(v.c_str());
        else if (k == "--timeout")
            o.timeoutMs = std::atoi(v.c_str());
        else if (k == "--host")
            o.host = v;
        else {
            std::fprintf(stderr,
                         "usage: %s [--jobs N] [--threads N] [--servers N] "
                         "[--timeout MS] [--host LABHOST]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!inLabClient()) {
        std::fprintf(stderr,
                     "probe_bench: not inside the lab's tv-client namespace; run it as\n"
                     "  tests/lab/in-lab.sh -- %s ...\n",
                     argv[0]);
        return 2;
    }
    if (o.jobs < 1 || o.threads < 1 || o.servers < 1 || o.servers > 200)
        return 2;

    char tmpl[] = "/tmp/tv-probe-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "";
    std::vector<std::string> addrs; // what each job connects to
    std::vector<pid_t> servers;
    std::string sni = o.host;
    if (o.host.empty()) {
        sni = "bench.test";
        if (dir.empty() || !makeCertificates(dir)) {
            std::fprintf(stderr, "probe_bench: could not make the certificates\n");
            return 1;
        }
        setenv("SSL_CERT_FILE", (dir + "/ca.pem").c_str(), 1); // before the first probe
        for (int i = 0; i < o.servers; ++i) {
            addrs.push_back("127.0.0." + std::to_string(2 + i));
            servers.push_back(startServer(dir, addrs.back()));
        }
        for (const auto& a : addrs)
            if (!waitListening(a)) {
                std::fprintf(stderr, "probe_bench: server on %s did not start\n", a.c_str());
                return 1;
            }
    } else {
        addrs.push_back(o.host);
    }

    // Warm-up: one probe per target loads the trust store and the libraries.
    for (const auto& a : addrs)
        tv::probeTarget(a, sni, true, o.timeoutMs);

    Figures ours;
    {
        std::atomic<int> next{0}, good{0};
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        const auto t0 = std::chrono::steady_clock::now();
        std::vector<std::thread> pool;
        for (int t = 0; t < o.threads; ++t)
            pool.emplace_back([&] {
                for (int j; (j = next.fetch_add(1)) < o.jobs;) {
                    const tv::ProbeResult r =
                        tv::probeTarget(addrs[j % addrs.size()], sni, true, o.timeoutMs);
                    if (r.verdict == "pass" && r.httpCode == 200 && r.certOk)
                        ++good;
                }
            });
        for (auto& t : pool)
            t.join();
        ours.wall = secondsSince(t0);
        ours.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        ours.good = good;
    }

    Figures ref;
    {
        const std::string targets = dir + "/targets", codes = dir + "/codes";
        {
            std::ofstream f(targets);
            for (int j = 0; j < o.jobs; ++j)
                f << addrs[j % addrs.size()] << "\n";
        }
        const double maxTime = o.timeoutMs / 1000.0;
        std::string curl = "curl -s -o /dev/null -w '%{http_code} %{ssl_verify_result}\\n' "
                           "--noproxy '*' --max-time " +
                           std::to_string(maxTime) + " ";
        if (o.host.empty())
            curl += "--cacert '" + dir + "/ca.pem' --resolve bench.test:443:{} https://bench.test/";
        else
            curl += "https://{}/";
        const std::string cmd = "xargs -a '" + targets + "' -P " + std::to_string(o.threads) +
                                " -I{} " + curl + " > '" + codes + "'";
        const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
        const auto t0 = std::chrono::steady_clock::now();
        run(cmd);
        ref.wall = secondsSince(t0);
        ref.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
        std::ifstream f(codes);
        for (std::string line; std::getline(f, line);)
            ref.good += line == "200 0";
    }

    for (pid_t p : servers)
        kill(p, SIGTERM);
    for (pid_t p : servers)
        waitpid(p, nullptr, 0);
    if (!dir.empty())
        run("rm -rf '" + dir + "'");

    const double n = o.jobs;
    std::printf("probe_bench: %d jobs, %d threads, %s\n", o.jobs, o.threads,
                o.host.empty() ? (std::to_string(o.servers) + " local openssl s_server").c_str()
                               : o.host.c_str());
    std::printf("%-22s %10s %12s %14s %8s\n", "client", "wall s", "probes/s", "CPU ms/probe",
                "good");
    std::printf("%-22s %10.2f %12.0f %14.3f %8d\n", "probeTarget", ours.wall, n / ours.wall,
                1000 * ours.cpu / n, ours.good);
    std::printf("%-22s %10.2f %12.0f %14.3f %8d\n", "curl | xargs -P", ref.wall, n / ref.wall,
                1000 * ref.cpu / n, ref.good);
    std::printf("throughput ratio (ours / curl): %.2f\n", ref.wall / ours.wall);
    std::printf("CPU per probe ratio (curl / ours): %.2f\n", ours.cpu > 0 ? ref.cpu / ours.cpu : 0);
    return ours.good == o.jobs && ref.good == o.jobs ? 0 : 1;
}
