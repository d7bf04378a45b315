#include "app/host.h"

#include <algorithm>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "bridge/settings.h"
#include "bridge/state.h"

namespace tv {

std::string cssColour(Rgb c) {
    return "rgb(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
           ")";
}

Rect mainWindowRect(const Rect& workArea) {
    Rect r;
    r.width = std::min(1240, workArea.width - 40);
    r.height = std::min(820, workArea.height - 80);
    r.x = workArea.x + (workArea.width - r.width) / 2;
    r.y = workArea.y + (workArea.height - r.height) / 2;
    return r;
}

HostDirs prepareHostDirs() {
    const std::string base = executableDir();
    HostDirs d{joinPath(base, "ProbeData"), joinPath(base, "scans")};
    setScansPath(d.scans);
    makeDir(d.probeData);
    makeDir(d.scans);
    return d;
}

namespace {

// The leading dotted number of a version text; nothing when there is none or
// a part does not fit 32 bits.
std::optional<std::vector<uint32_t>> versionNumbers(std::string_view v) {
    std::vector<uint32_t> parts;
    size_t i = 0;
    for (;;) {
        uint64_t n = 0;
        const size_t start = i;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9' && n <= UINT32_MAX)
            n = n * 10 + static_cast<uint64_t>(v[i++] - '0');
        if (i == start || n > UINT32_MAX)
            return std::nullopt;
        parts.push_back(static_cast<uint32_t>(n));
        if (i == v.size() || v[i] == ' ')
            return parts;
        if (v[i++] != '.')
            return std::nullopt;
    }
}

} // namespace

std::optional<int> compareVersions(std::string_view a, std::string_view b) {
    const auto x = versionNumbers(a), y = versionNumbers(b);
    if (!x || !y)
        return std::nullopt;
    for (size_t i = 0; i < std::max(x->size(), y->size()); ++i) {
        const uint32_t p = i < x->size() ? (*x)[i] : 0, q = i < y->size() ? (*y)[i] : 0;
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

std::string_view startupBoxText(StartupBox box, bool english) {
    switch (box) {
    case StartupBox::profileBusy:
        return english ? "Another Tarnveil window holds the ProbeData folder with other settings.\n"
                         "Close it and start Tarnveil again."
                       : "Папку ProbeData держит другое окно Tarnveil с другими настройками.\n"
                         "Закрой его и запусти Tarnveil снова.";
    case StartupBox::engineMissing:
        return english ? "WebKitGTK could not be started.\nInstall WebKitGTK (the libwebkit2gtk-4.1-0 "
                         "package)."
                       : "Не удалось запустить WebKitGTK.\nУстанови WebKitGTK (пакет "
                         "libwebkit2gtk-4.1-0).";
    case StartupBox::runtimeMissing:
        break;
    }
    return english ? "The WebView2 Runtime could not be started.\nInstall the Microsoft Edge WebView2 "
                     "Runtime."
                   : "Не удалось запустить WebView2 Runtime.\nУстанови Microsoft Edge WebView2 Runtime.";
}

bool interfaceInEnglish() {
    return storedLang() == kLangEn;
}

void logEscapedException(std::string_view where, std::exception_ptr e) noexcept {
    try {
        std::string what = "unknown exception";
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            what = toValidUtf8(ex.what());
        } catch (...) {
        }
        std::string line = "exception in ";
        line += where;
        line += ": " + what;
        logLine(line);
    } catch (...) {
        // Nothing left to tell it with (out of memory): going on matters more.
    }
}

} // namespace tv
