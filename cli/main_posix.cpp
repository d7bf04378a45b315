#include <string>
#include <vector>

#include "base/runtime.h"
#include "cli/front.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tv::initPlatformRuntimes();
    return tv::cli::runCli(args);
}
