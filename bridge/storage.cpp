#include "bridge/storage.h"

#include "base/paths.h"
#include "base/text.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"

namespace tv {

bool isValidSnapshotName(std::string_view name) {
    // Ill-formed UTF-8 would be repaired to U+FFFD, which is no letter.
    if (toValidUtf8(name) != name)
        return false;
    const std::u16string units = utf8ToUtf16(name);
    if (units.empty() || units.size() > kMaxNameUnits)
        return false;
    for (const char16_t u : units) {
        if (u == u'-' || u == u'.' || u == u'_')
            continue;
        if (!isNameLetterOrDigit(u))
            return false;
    }
    return name.find("..") == std::string_view::npos;
}

bool hasJsonExtension(std::string_view name) {
    constexpr std::string_view kExt = ".json";
    if (name.size() < kExt.size())
        return false;
    const std::string_view tail = name.substr(name.size() - kExt.size());
    for (size_t i = 0; i < kExt.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kExt[i])
            return false;
    }
    return true;
}

std::string snapshotPath(std::string_view name) {
    return joinPath(scansPath(), name);
}

void postFileList() {
    postUiMessage(buildFiles(listSnapshotFiles(scansPath())));
}

} // namespace tv
