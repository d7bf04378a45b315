#include "bridge/ui_sink.h"

#include "bridge/protocol.h"

namespace tv {
namespace {
UiSink& sinkStorage() {
    static UiSink s;
    return s;
}
} // namespace

void setUiSink(UiSink sink) {
    sinkStorage() = std::move(sink);
}

void postUiMessage(std::string message) {
    const UiSink& s = sinkStorage();
    if (s)
        s(std::move(message));
}

void postNotice(std::string_view text) {
    postUiMessage(buildMsg(text));
}

} // namespace tv
