// libFuzzer target for saved snapshots read back by the command-line front:
// the report of one and the comparison of two (the input split at its first
// NUL byte; without one, the snapshot against itself), and the report put
// into English.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/history.h"
#include "cli/json.h"
#include "cli/texts.h"

namespace {

void requireShowable(const std::string& text) {
    if (!tv::isWellFormedUtf8(tv::toPrintable(text)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv::cli;
    const std::string in(reinterpret_cast<const char*>(data), size);
    const size_t nul = in.find('\0');
    const auto a = parseJson(in.substr(0, nul));
    if (!a)
        return 0;
    const std::string report = snapshotReport(*a, "?");
    requireShowable(report);
    // The English table's matcher over text of any shape.
    requireShowable(englishText(report));
    if (nul == std::string::npos) {
        // A snapshot compared with itself changed nowhere. Without its status
        // and label only the tables' titles hold the word.
        Json bare = *a;
        std::erase_if(bare.obj, [](const auto& kv) { return kv.first == "status" || kv.first == "label"; });
        const std::string same = compareReport(bare, "a", "?", bare, "a", "?");
        requireShowable(same);
        for (size_t at = same.find(": изменилось "); at != std::string::npos;
             at = same.find(": изменилось ", at + 1))
            if (same.compare(at + std::string(": изменилось ").size(), 2, "0 ") != 0)
                std::abort();
        return 0;
    }
    if (const auto b = parseJson(in.substr(nul + 1)))
        requireShowable(compareReport(*a, "a", "?", *b, "b", "?"));
    return 0;
}
