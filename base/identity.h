// Who the program is: the name, author and version shown in the log banner,
// the page's hello message and the report.
#pragma once

#include <string_view>

#include "base/version.h"

namespace tv {

inline constexpr std::string_view kProductName = "Tarnveil";
inline constexpr std::string_view kAuthor = "Brannick & Quillmoor";
inline constexpr std::string_view kVersion = TV_VERSION;
inline constexpr std::string_view kStartBanner =
    "=== ЗАПУСК === AUTHOR: Brannick & Quillmoor | PROJECT: Tarnveil | VERSION: " TV_VERSION;
inline constexpr std::string_view kExitLine = "=== ВЫХОД ===";

} // namespace tv
