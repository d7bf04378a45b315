// Console entry: arguments as UTF-16 from the system, converted once.
#include <string>
#include <vector>
#include <windows.h>

#include "base/runtime.h"
#include "base/winstr.h"
#include "cli/front.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(tv::fromWide(argv[i]));
    tv::initPlatformRuntimes();
    return tv::cli::runCli(args);
}
