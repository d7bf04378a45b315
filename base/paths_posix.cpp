#include "base/paths.h"

#include <cstdlib>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

std::string modulePath() {
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string executableDir() {
    const std::string exeDir = exeDirFromModulePath(modulePath());
    const bool writable = ::access(exeDir.c_str(), W_OK | X_OK) == 0;
    std::string dir =
        chooseDataDir(exeDir, writable, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (dir != exeDir) {
        // The per-user directory may not exist yet; make its last two levels.
        const auto parent = exeDirFromModulePath(dir);
        ::mkdir(parent.c_str(), 0755);
        ::mkdir(dir.c_str(), 0755);
    }
    return dir;
}

std::string joinPath(const std::string& dir, std::string_view name) {
    std::string p = dir;
    p += '/';
    p += name;
    return p;
}

void makeDir(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
}

} // namespace tv
