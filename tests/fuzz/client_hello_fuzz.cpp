// libFuzzer target for the ClientHello parser and its fingerprints: nothing
// outside the input is read, a hello that parses holds whole fields, and one
// byte more or less never parses (the record is exactly one hello).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/hello_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    ClientHelloInfo h;
    if (!parseClientHello(in, h))
        return 0;
    const size_t recordLen = static_cast<uint8_t>(in[3]) << 8 | static_cast<uint8_t>(in[4]);
    if (recordLen + 5 != size || h.random.size() != 32 || h.sessionId.size() > 32 ||
        h.cipherSuites.empty() || h.compression.empty())
        std::abort();
    // (A server_name extension may hold only name types other than host_name,
    // so hasSni with an empty name is well-formed.)
    if (!h.hasSni && !h.sni.empty())
        std::abort();
    for (const auto& k : h.keyShares)
        if (k.key.empty())
            std::abort();
    ClientHelloInfo other;
    if (parseClientHello(in.substr(0, size - 1), other) ||
        parseClientHello(std::string(in) + '\0', other))
        std::abort();
    const std::string ja3 = ja3String(h);
    if (ja3.compare(0, std::to_string(h.legacyVersion).size() + 1,
                    std::to_string(h.legacyVersion) + ",") != 0)
        std::abort();
    const std::string j4 = ja4(h);
    // "t13d1517h2_" and two 12-digit hashes; empty only when hashing failed.
    if (!j4.empty() && (j4.size() != 36 || j4[0] != 't' || j4[10] != '_' || j4[23] != '_'))
        std::abort();
    if (ja4Raw(h).compare(0, 11, j4.substr(0, 11)) != 0 && !j4.empty())
        std::abort();
    return 0;
}
