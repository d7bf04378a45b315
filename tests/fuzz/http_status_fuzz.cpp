// libFuzzer target for the status line of the first HTTP answer, checked
// against the C library's own reading of the pattern it follows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/http_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int32_t code = -1;
    const bool ok = tv::parseStatusLine(text, code);
    // The reference reads the same text up to its first NUL.
    const std::string z(text.substr(0, text.find('\0')));
    long long ref = 0;
    const int n = std::sscanf(z.c_str(), "HTTP/%*d.%*d %lld", &ref);
    const bool fits = n == 1 && ref >= INT32_MIN && ref <= INT32_MAX;
    if (ok != fits || (ok && code != ref))
        std::abort();
    return 0;
}
