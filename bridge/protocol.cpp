#include "bridge/protocol.h"

#include "base/identity.h"
#include "base/text.h"

namespace tv {
namespace {

// Small builder for one message: {"t":"kind" ,"key":value ... }.
class Message {
public:
    explicit Message(std::string_view kind, size_t reserve = 64) {
        s_.reserve(reserve + kind.size() + 16);
        s_ += "{\"t\":";
        appendJsonQuoted(s_, kind);
    }
    Message& str(std::string_view key, std::string_view value) {
        keyOf(key);
        appendJsonQuoted(s_, value);
        return *this;
    }
    Message& num(std::string_view key, int64_t value) {
        keyOf(key);
        s_ += std::to_string(value);
        return *this;
    }
    Message& unum(std::string_view key, uint64_t value) {
        keyOf(key);
        s_ += std::to_string(value);
        return *this;
    }
    Message& flag(std::string_view key, bool value) {
        keyOf(key);
        s_ += value ? "true" : "false";
        return *this;
    }
    Message& raw(std::string_view key, std::string_view json) {
        keyOf(key);
        s_ += json;
        return *this;
    }
    // Appends keys by a helper that may add none.
    template <class F> Message& then(F&& f) {
        f(*this);
        return *this;
    }
    std::string done() {
        s_ += '}';
        return std::move(s_);
    }

private:
    void keyOf(std::string_view key) {
        s_ += ",\"";
        s_ += key; // keys are fixed ASCII names
        s_ += "\":";
    }
    std::string s_;
};

// The transfer test's keys, present only when it was asked for.
void appendXferKeys(Message& m, const ProbeResult& r) {
    if (!r.xferRan)
        return;
    const XferFinding& x = r.xfer;
    m.str("xfer", xferWord(x.state))
        .str("down", xferWord(x.down.state))
        .num("downBytes", x.down.bytes)
        .num("downMs", x.down.ms)
        .num("downKbps", x.down.kbps)
        .str("up", xferWord(x.up.state))
        .num("upBytes", x.up.bytes)
        .num("upMs", x.up.ms)
        .num("upKbps", x.up.kbps)
        .flag("upAcks", x.upByAcks);
}

// The browser hellos' keys, present only when a mode other than "lib" ran.
void appendHelloKeys(Message& m, const ProbeResult& r) {
    const HelloFinding& h = r.hello;
    if (h.mode == HelloMode::Lib)
        return;
    m.str("hello", helloModeWord(h.mode))
        .str("helloChrome", stateWord(h.chrome.state))
        .num("helloChromeMs", h.chrome.ms)
        .str("helloChromeDetail", h.chrome.detail)
        .str("helloFirefox", stateWord(h.firefox.state))
        .num("helloFirefoxMs", h.firefox.ms)
        .str("helloFirefoxDetail", h.firefox.detail);
}

} // namespace

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    appendJsonEscaped(out, text);
    return out;
}

std::string jsonQuote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 10);
    appendJsonQuoted(out, text);
    return out;
}

std::string buildHello(std::string_view scansDir) {
    return Message("hello", scansDir.size() + 96)
        .str("project", kProductName)
        .str("author", kAuthor)
        .str("version", kVersion)
        .str("dir", scansDir)
        .done();
}

std::string buildRes(int32_t run, uint64_t idx, const ProbeResult& r) {
    Message m("res", 360 + r.host.size() + r.sni.size() + r.cert.size() + r.tlsDetail.size());
    m.num("run", run)
        .unum("idx", idx)
        .str("host", r.host)
        .str("sni", r.sni)
        .str("ip", r.ip)
        .str("dns", r.dns)
        .num("dnsMs", r.dnsMs)
        .str("tcp", r.tcp)
        .num("tcpMs", r.tcpMs)
        .str("tls", r.tls)
        .num("tlsMs", r.tlsMs)
        .str("tlsDetail", r.tlsDetail)
        .str("cert", r.cert)
        .flag("certOk", r.certOk)
        .str("http", r.http)
        .num("httpMs", r.httpMs)
        .num("httpCode", r.httpCode)
        .str("verdict", r.verdict);
    // Feature keys after `verdict`, each block only when its check was asked for.
    appendXferKeys(m, r);
    appendHelloKeys(m, r);
    if (r.dnsCheck.asked)
        m.str("dnsSpoof", r.dnsCheck.spoof)
            .str("dnsGenuine", r.dnsCheck.genuine)
            .str("dnsVia", r.dnsCheck.via);
    // Repeated tries: their count and how many passed (the rest is the last try's).
    if (r.tries > 1)
        m.num("tries", r.tries).num("passes", r.passes);
    if (r.tcpShared)
        m.flag("tcpShared", true);
    return m.done();
}

std::string buildNet(int32_t run, const NetCheckResult& n) {
    Message m("net", 112 + n.group.size() + n.name.size() + n.detail.size());
    m.num("run", run)
        .str("group", n.group)
        .str("name", n.name)
        .str("state", n.state)
        .str("detail", n.detail)
        .num("ms", n.ms);
    if (!n.intercept.empty())
        m.str("intercept", n.intercept);
    return m.done();
}

std::string buildIpInfo(int32_t run, std::string_view body) {
    const std::string_view text = untilNul(body);
    return Message("ipinfo", 32 + text.size()).num("run", run).str("body", text).done();
}

std::string buildDone(int32_t run, bool cancelled) {
    return Message("done").num("run", run).flag("cancelled", cancelled).done();
}

std::string buildFiles(const std::vector<FileEntry>& list) {
    std::string items = "[";
    bool first = true;
    for (const FileEntry& f : list) {
        if (!first)
            items += ',';
        first = false;
        items += "{\"name\":";
        appendJsonQuoted(items, f.name);
        items += ",\"size\":";
        items += std::to_string(f.size);
        items += '}';
    }
    items += ']';
    return Message("files", items.size()).raw("list", items).done();
}

std::string buildSaved(std::string_view name) {
    return Message("saved", name.size()).str("name", name).done();
}

std::string buildFile(std::string_view name, std::string_view data) {
    // Escaping can grow the text; a little headroom saves most reallocations.
    return Message("file", name.size() + data.size() + data.size() / 16)
        .str("name", name)
        .str("data", data)
        .done();
}

std::string buildMsg(std::string_view text) {
    return Message("msg", text.size()).str("text", text).done();
}

} // namespace tv
