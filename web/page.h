// The embedded page and the default lists, joined from web/ at build time.
#pragma once

#include <string_view>

namespace tv {

// The whole page as one UTF-8 HTML document.
std::string_view pageText();

// A default list by name ("domains", ...); empty when there is no such list.
std::string_view embeddedList(std::string_view name);

} // namespace tv
