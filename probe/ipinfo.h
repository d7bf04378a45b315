// The IP-information request, the same on every HTTP client (ipinfo_curl.cpp,
// ipinfo_winhttp.cpp): plain HTTP on port 80, no proxy of any kind, a fixed
// user agent, and a body cap checked before each read, so the body can exceed
// it by at most one chunk. The status code is not examined.
#pragma once

#include <cstddef>

namespace tv {

inline constexpr const char* kIpInfoHost = "ip-api.com";
inline constexpr int kIpInfoPort = 80;
inline constexpr const char* kIpInfoPath = "/json/?fields=status,query,isp,org,as,city,country";
inline constexpr const char* kIpInfoUserAgent = "Tarnveil/1.0";
inline constexpr size_t kIpInfoBodyCap = 8192;

// The cap rule: another chunk is read only while the body is below the cap.
inline bool ipInfoWantsMore(size_t bodySize) {
    return bodySize < kIpInfoBodyCap;
}

} // namespace tv
