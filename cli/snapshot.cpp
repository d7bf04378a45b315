#include "cli/snapshot.h"

#include "cli/render.h"

namespace tv::cli {
namespace {

std::string join(const std::vector<std::string>& items) {
    return joinWith(items, ',');
}

std::string quotedList(const std::vector<std::string>& items) {
    std::vector<std::string> q;
    for (const auto& i : items)
        q.push_back(jsonString(i));
    return "[" + join(q) + "]";
}

// The transfer test's keys as the page's snapshot keeps them (none when the
// test did not run), after the entry's own keys.
std::string xferKeys(const Json& m) {
    const XferView x = xferViewOf(m);
    if (x.word.empty())
        return {};
    return ",\"xfer\":" + jsonString(x.word) + ",\"down\":" + jsonString(x.down) +
           ",\"downBytes\":" + std::to_string(x.downBytes) +
           ",\"downKbps\":" + std::to_string(x.downKbps) + ",\"up\":" + jsonString(x.up) +
           ",\"upBytes\":" + std::to_string(x.upBytes) + ",\"upKbps\":" + std::to_string(x.upKbps);
}

// The DNS check's keys after the page's, when the result carries them (the
// page's serialiser leaves absent ones out likewise).
std::string dnsKeys(const Json& x) {
    std::string s;
    for (const char* k : {"dnsSpoof", "dnsGenuine", "dnsVia"})
        if (x.get(k))
            s += std::string(",\"") + k + "\":" + jsonString(x.getString(k));
    return s;
}

// The repeated tries' keys, last, when more than one try ran.
std::string repeatKeys(const Json& x) {
    if (x.getInt("tries", 1) <= 1)
        return {};
    return ",\"tries\":" + std::to_string(x.getInt("tries")) +
           ",\"passes\":" + std::to_string(x.getInt("passes"));
}

// The hello keys after an entry's own, when the browser hellos ran (the page's
// helloKeys).
std::string helloKeys(const Json& x) {
    const HelloView h = helloViewOf(x);
    if (h.mode.empty())
        return {};
    return ",\"hello\":" + jsonString(h.mode) + ",\"helloChrome\":" + jsonString(h.chrome) +
           ",\"helloFirefox\":" + jsonString(h.firefox);
}

} // namespace

std::string snapshotDomainEntry(const std::string& host, const std::string& group, const Json& x) {
    return "{\"host\":" + jsonString(host) + ",\"group\":" + jsonString(group) +
           ",\"verdict\":" + jsonString(x.getString("verdict")) +
           ",\"ip\":" + jsonString(x.getString("ip")) +
           ",\"dns\":" + jsonString(x.getString("dns")) +
           ",\"tcp\":" + jsonString(x.getString("tcp")) +
           ",\"tls\":" + jsonString(x.getString("tls")) +
           ",\"http\":" + jsonString(x.getString("http")) +
           ",\"httpCode\":" + std::to_string(x.getInt("httpCode")) +
           ",\"tlsMs\":" + std::to_string(x.getInt("tlsMs", -1)) +
           ",\"cert\":" + jsonString(x.getString("cert")) +
           ",\"certOk\":" + (x.getBool("certOk") ? "true" : "false") + xferKeys(x) + helloKeys(x) +
           dnsKeys(x) + repeatKeys(x) + "}";
}

std::string snapshotMatrixCell(const Json& m) {
    return "{\"ip\":" + jsonString(m.getString("host")) +
           ",\"sni\":" + jsonString(m.getString("sni")) +
           ",\"verdict\":" + jsonString(m.getString("verdict")) +
           ",\"tcp\":" + jsonString(m.getString("tcp")) +
           ",\"tls\":" + jsonString(m.getString("tls")) +
           ",\"tlsMs\":" + std::to_string(m.getInt("tlsMs", -1)) + xferKeys(m) + helloKeys(m) +
           repeatKeys(m) + "}";
}

std::string snapshotText(const std::string& created, const std::string& label, const Status& st,
                         const std::vector<std::string>& domainEntries,
                         const std::vector<std::string>& ips, const std::vector<std::string>& snis,
                         const std::vector<std::string>& cellEntries,
                         const std::vector<std::string>& basics, const std::string& ipinfo,
                         const std::string& randomName) {
    return "{\"v\":1,\"created\":" + jsonString(created) + ",\"label\":" + jsonString(label) +
           ",\"status\":{\"k\":" + jsonString(st.k) + ",\"txt\":" + jsonString(st.txt) +
           "},\"domains\":[" + join(domainEntries) + "],\"matrix\":{\"ips\":" + quotedList(ips) +
           ",\"snis\":" + quotedList(snis) + ",\"cells\":[" + join(cellEntries) + "]" +
           (randomName.empty() ? "" : ",\"rand\":" + jsonString(randomName)) + "},\"basics\":[" +
           join(basics) + "],\"ipinfo\":" + ipinfo + "}";
}

std::string snapshotIpInfo(const std::string& body) {
    const auto j = parseJson(body);
    if (!j || j->type != Json::Type::Object || j->getString("status") != "success")
        return "{\"error\":true}";
    // Absent fields are left out, as the page's serialiser drops undefined values.
    std::string s = "{";
    bool first = true;
    const std::pair<const char*, const char*> keys[] = {{"ip", "query"},  {"isp", "isp"},
                                                        {"org", "org"},   {"as", "as"},
                                                        {"city", "city"}, {"country", "country"}};
    for (const auto& [out, in] : keys) {
        const Json* v = j->get(in);
        if (!v)
            continue;
        if (!first)
            s += ',';
        first = false;
        s += jsonString(out);
        s += ':';
        s += v->type == Json::Type::String ? jsonString(v->str) : jsonString("");
    }
    return s + "}";
}

} // namespace tv::cli
