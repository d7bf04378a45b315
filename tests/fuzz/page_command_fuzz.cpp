// libFuzzer target for the page's command texts: the TAB splitter, the rest
// of a command (the text of "save" and "copy") and the integer fields.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tv;
    const std::string_view cmd(reinterpret_cast<const char*>(data), size);
    const auto fields = splitCommand(cmd);
    size_t tabs = 0;
    for (const char c : cmd)
        tabs += c == '\t';
    if (fields.size() != tabs + 1)
        std::abort();
    // The fields put back together with their TABs are the command; each one
    // is a view into it.
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].data() < cmd.data() ||
            fields[i].data() + fields[i].size() > cmd.data() + size)
            std::abort();
        joined += (i ? "\t" : "");
        joined += fields[i];
    }
    if (joined != cmd)
        std::abort();
    for (size_t first = 0; first <= fields.size(); ++first) {
        const std::string_view rest = commandRest(cmd, fields, first);
        if (first == fields.size() ? !rest.empty()
                                   : rest != cmd.substr(fields[first].data() - cmd.data()))
            std::abort();
    }
    // readInt32 saturates: a field of plain ASCII digits reads as its value.
    for (const auto f : fields) {
        const int32_t v = readInt32(f);
        if (!f.empty() && f.size() <= 9 &&
            f.find_first_not_of("0123456789") == std::string_view::npos &&
            v != std::stol(std::string(f)))
            std::abort();
    }
    fieldAt(fields, ScanField::dnscheck);
    return 0;
}
