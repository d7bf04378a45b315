// The browser-shaped hellos inside probeTarget, in the lab: as the TLS stage
// and as the comparison with the library's handshake, in the open lab and
// under the fingerprint censor (fp-chrome drops hellos that carry Chrome's
// ALPS extension toward foreign addresses). Portable like probe_lab_test.cpp:
// the Windows build runs it under Wine, where only the library's handshake
// differs (Schannel on GnuTLS), never the hellos (the socket shim alone).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "probe/probe.h"

namespace tv {
namespace {

constexpr int32_t kT = 1500;

ProbeResult probe(const std::string& host, const std::string& sni, HelloMode mode,
                  bool http = false) {
    ProbeOptions o;
    o.timeoutMs = kT;
    o.http = http;
    o.hello = mode;
    return probeTarget(ProbeJob{host, sni}, o);
}

std::string word(const StageOutcome& o) {
    return std::string(stateWord(o.state));
}

// Every shape got a ServerHello: the library's handshake completed and both
// browser hellos were answered.
void expectAllThreePass(const ProbeResult& r) {
    SCOPED_TRACE(r.host + " | " + r.sni);
    EXPECT_EQ(r.tcp, "ok");
    EXPECT_EQ(r.tls, "ok") << r.tlsDetail;
    EXPECT_EQ(r.verdict, "pass");
    EXPECT_EQ(r.hello.mode, HelloMode::All);
    for (const StageOutcome* o : {&r.hello.chrome, &r.hello.firefox}) {
        EXPECT_EQ(word(*o), "ok") << o->detail;
        EXPECT_EQ(o->detail, "server hello");
        EXPECT_GE(o->ms, 0);
    }
}

// ---------------------------------------------------------------- open

TEST(ProbeLabHelloOpen, AllThreePassForANameAndForAnAddressLiteral) {
    const ProbeResult byName = probe("ok.lab.test", "ok.lab.test", HelloMode::All, true);
    expectAllThreePass(byName);
    EXPECT_EQ(byName.dns, "ok");
    EXPECT_EQ(byName.http, "ok"); // the library's stage is today's, HTTP included
    EXPECT_TRUE(byName.certOk);
    const ProbeResult literal = probe("1.1.1.1", "google.com", HelloMode::All);
    expectAllThreePass(literal);
    EXPECT_EQ(literal.dns, "skip");
    EXPECT_EQ(literal.ip, "1.1.1.1");
    // No server name: the hellos go without one and are answered too.
    expectAllThreePass(probe("8.8.8.8", "", HelloMode::All));
}

TEST(ProbeLabHelloOpen, OpensslServerAnswersBothShapesWithAServerHello) {
    expectAllThreePass(probe("sserver.lab.test", "sserver.lab.test", HelloMode::All));
}

TEST(ProbeLabHelloOpen, BrowserHelloAsTheTlsStageSkipsCertificateAndHttp) {
    for (HelloMode m : {HelloMode::Chrome, HelloMode::Firefox}) {
        const ProbeResult r = probe("ok.lab.test", "ok.lab.test", m, true);
        SCOPED_TRACE(std::string(helloModeWord(m)));
        EXPECT_EQ(r.tls, "ok");
        EXPECT_EQ(r.tlsDetail, "server hello");
        EXPECT_GE(r.tlsMs, 0);
        EXPECT_EQ(r.cert, "");
        EXPECT_FALSE(r.certOk);
        EXPECT_EQ(r.http, "skip");
        EXPECT_EQ(r.httpMs, -1);
        EXPECT_EQ(r.verdict, "pass"); // HTTP was asked for, but does not count here
        const StageOutcome& ran = m == HelloMode::Chrome ? r.hello.chrome : r.hello.firefox;
        const StageOutcome& other = m == HelloMode::Chrome ? r.hello.firefox : r.hello.chrome;
        EXPECT_EQ(word(ran), "ok");
        EXPECT_EQ(ran.ms, r.tlsMs);
        EXPECT_EQ(word(other), "skip");
    }
}

TEST(ProbeLabHelloOpen, EachShapeHasItsOwnOutcome) {
    // A server that refuses the name answers every shape with an alert.
    const ProbeResult alert = probe("alert.lab.test", "other.lab.test", HelloMode::All);
    EXPECT_EQ(alert.tls, "alert");
    EXPECT_EQ(alert.verdict, "reach");
    EXPECT_EQ(word(alert.hello.chrome), "alert");
    EXPECT_EQ(alert.hello.chrome.detail, "alert 112 (unrecognized_name)");
    EXPECT_EQ(word(alert.hello.firefox), "alert");
    const ProbeResult silent = probe("silent.lab.test", "silent.lab.test", HelloMode::Chrome);
    EXPECT_EQ(silent.tls, "timeout");
    EXPECT_EQ(silent.tlsDetail, "no reply");
    EXPECT_EQ(silent.verdict, "dpi");
    const ProbeResult rst = probe("rst.lab.test", "rst.lab.test", HelloMode::Firefox);
    EXPECT_EQ(rst.tls, "reset");
    EXPECT_EQ(rst.verdict, "dpi");
}

TEST(ProbeLabHelloOpen, TcpFailureIsNotTriedAgain) {
    const ProbeResult refused = probe("refused.lab.test", "refused.lab.test", HelloMode::All);
    EXPECT_EQ(refused.tcp, "refused");
    EXPECT_EQ(word(refused.hello.chrome), "skip");
    EXPECT_EQ(word(refused.hello.firefox), "skip");
    EXPECT_EQ(refused.verdict, "blocked");
    // A silent address costs one connect time-out, not three.
    const auto start = std::chrono::steady_clock::now();
    const ProbeResult drop = probe("drop.lab.test", "drop.lab.test", HelloMode::All);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(drop.tcp, "timeout");
    EXPECT_EQ(word(drop.hello.chrome), "skip");
    EXPECT_LT(ms, 2 * kT);
    const ProbeResult nx = probe("nx.lab.test", "nx.lab.test", HelloMode::Chrome);
    EXPECT_EQ(nx.dns, "nx");
    EXPECT_EQ(nx.tls, "skip");
    EXPECT_EQ(nx.hello.mode, HelloMode::Chrome); // the keys are still written
}

// ---------------------------------------------------------------- fp-chrome

TEST(ProbeLabHelloFpChrome, ChromeIsCutTowardForeignAddressesOthersPass) {
    for (const auto& [host, sni] :
         {std::pair<std::string, std::string>{"ok.lab.test", "ok.lab.test"},
          {"1.1.1.1", "vk.com"}}) {
        const ProbeResult r = probe(host, sni, HelloMode::All);
        SCOPED_TRACE(host);
        EXPECT_EQ(r.tls, "ok") << r.tlsDetail; // the library's hello has no ALPS
        EXPECT_EQ(r.verdict, "pass");
        EXPECT_EQ(word(r.hello.firefox), "ok");
        EXPECT_EQ(word(r.hello.chrome), "timeout");
        EXPECT_EQ(r.hello.chrome.detail, "no reply");
        EXPECT_GE(r.hello.chrome.ms, kT - 30);
    }
    const ProbeResult chrome = probe("1.1.1.1", "vk.com", HelloMode::Chrome);
    EXPECT_EQ(chrome.tls, "timeout");
    EXPECT_EQ(chrome.verdict, "dpi");
    EXPECT_EQ(probe("1.1.1.1", "vk.com", HelloMode::Firefox).verdict, "pass");
}

TEST(ProbeLabHelloFpChrome, DomesticAddressesAreLeftAlone) {
    expectAllThreePass(probe("ya.ru", "ya.ru", HelloMode::All));
    expectAllThreePass(probe("77.88.55.242", "google.com", HelloMode::All));
}

} // namespace
} // namespace tv
