// UTF-8 <-> UTF-16 at Windows API edges.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace tv {

inline std::wstring toWide(std::string_view s) {
    const std::u16string u = utf8ToUtf16(s);
    return std::wstring(u.begin(), u.end());
}

inline std::string fromWide(std::wstring_view w) {
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

} // namespace tv
