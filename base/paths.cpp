#include "base/paths.h"

namespace tv {

std::string exeDirFromModulePath(std::string_view modulePath) {
    const auto cut = modulePath.find_last_of("\\/");
    if (cut == std::string_view::npos)
        return ".";
    return std::string(modulePath.substr(0, cut));
}

std::string chooseDataDir(const std::string& exeDir, bool exeDirWritable, const char* xdgDataHome,
                          const char* home) {
    if (exeDirWritable)
        return exeDir;
    if (xdgDataHome && *xdgDataHome)
        return std::string(xdgDataHome) + "/tarnveil";
    if (home && *home)
        return std::string(home) + "/.local/share/tarnveil";
    return exeDir;
}

} // namespace tv
