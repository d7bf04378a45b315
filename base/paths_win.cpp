#include "base/paths.h"

#include <windows.h>

#include "base/winstr.h"

namespace tv {

std::string modulePath() {
    wchar_t buf[260] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buf, 260);
    return fromWide(std::wstring_view(buf, n));
}

std::string executableDir() {
    return exeDirFromModulePath(modulePath());
}

std::string joinPath(const std::string& dir, std::string_view name) {
    std::string p = dir;
    p += '\\';
    p += name;
    return p;
}

void makeDir(const std::string& path) {
    CreateDirectoryW(toWide(path).c_str(), nullptr);
}

} // namespace tv
