#include "bridge/ui_sink.h"

namespace tv {
namespace {
UiSink& sinkStorage() {
    static UiSink s;
    return s;
}
} // namespace

void setUiSink(UiSink sink) { sinkStorage() = std::move(sink); }

void postUiMessage(std::string message) {
    const UiSink& s = sinkStorage();
    if (s)
        s(std::move(message));
}

} // namespace tv
