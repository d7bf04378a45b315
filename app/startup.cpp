#include "app/startup.h"

#include "app/selftest.h"
#include "app/window.h"
#include "base/log.h"
#include "base/runtime.h"

namespace tv {
namespace {
std::string& storedCommandLine() {
    static std::string s;
    return s;
}
} // namespace

bool switchInCommandLine(std::string_view commandLine, std::string_view sw) {
    return !sw.empty() && commandLine.find(sw) != std::string_view::npos;
}

void setCommandLine(std::string commandLine) {
    storedCommandLine() = std::move(commandLine);
}
const std::string& commandLine() {
    return storedCommandLine();
}
bool hasSwitch(std::string_view sw) {
    return switchInCommandLine(commandLine(), sw);
}

int startProcess(void* instance, int showCommand) {
    logLine(kStartBanner); // first, before any runtime is touched
    initPlatformRuntimes();
    if (hasSwitch(kSwitchSelftest)) {
        runSelfTest();
        return 0;
    }
    WindowOptions options;
    options.automation = hasSwitch(kSwitchCdp);
    return runWindowMode(instance, showCommand, options);
}

} // namespace tv
