#include "probe/dns_answers.h"

#include <cstdio>

namespace tv {
namespace {

DnsAnswerSet failed(std::string detail) {
    DnsAnswerSet a;
    a.state = State::Fail;
    a.detail = std::move(detail);
    return a;
}

bool asciiLower(char c, char want) {
    return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == want;
}

// "application/dns-message", with any parameters after ';' (RFC 9110 media
// types compare without regard to case).
bool isDnsMessageType(std::string_view v) {
    const size_t semi = v.find(';');
    v = v.substr(0, semi);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    if (v.size() != kDnsMessageType.size())
        return false;
    for (size_t i = 0; i < v.size(); ++i)
        if (!asciiLower(v[i], kDnsMessageType[i]))
            return false;
    return true;
}

} // namespace

DnsAnswerSet DohAnswerReader::answer() const {
    if (http_.responses() == 0)
        return failed(http_.malformed() ? "bad response" : "no answer");
    const int status = http_.statuses().empty() ? http_.firstStatus() : http_.statuses().front();
    if (status != 200) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "HTTP %d", status);
        return failed(buf);
    }
    if (!isDnsMessageType(http_.contentType()))
        return failed("not a DNS message");
    if (http_.bodyCut())
        return failed("answer too long");
    const std::string& body = http_.body();
    return parseDnsAnswerAll(reinterpret_cast<const uint8_t*>(body.data()), body.size(), expectId_);
}

DnsAnswerSet pickDotAnswer(const std::vector<std::string>& messages, uint16_t id) {
    for (const std::string& m : messages) {
        if (m.size() < 2)
            continue;
        const auto* d = reinterpret_cast<const uint8_t*>(m.data());
        if (static_cast<uint16_t>((d[0] << 8) | d[1]) == id)
            return parseDnsAnswerAll(d, m.size(), id);
    }
    return failed("no answer");
}

bool isDnsReply(const DnsAnswerSet& a) {
    return a.state == State::Ok || a.state == State::Nx || a.detail == "empty answer" ||
           a.detail.rfind("rcode ", 0) == 0;
}

} // namespace tv
