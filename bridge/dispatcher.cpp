#include "bridge/dispatcher.h"

#include "bridge/state.h"
#include "bridge/ui_sink.h"

namespace tv {

// Greeting only, until the full command set lands.
void dispatchCommand(const std::string& text) {
    if (text == "ready") {
        postUiMessage(R"({"t":"hello","project":"Tarnveil","author":"Brannick & Quillmoor",)"
                      R"("version":"1.0.0","dir":")" +
                      scansPath() + R"("})");
        postUiMessage(R"({"t":"files","list":[]})");
    }
}

} // namespace tv
