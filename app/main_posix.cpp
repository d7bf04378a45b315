// Linux entry: the full command line is the program path and the arguments
// joined with single blanks.
#include "app/startup.h"
#include "base/paths.h"

int main(int argc, char** argv) {
    std::string cmd = tv::modulePath();
    if (cmd.empty() && argc > 0)
        cmd = argv[0];
    for (int i = 1; i < argc; ++i) {
        cmd += ' ';
        cmd += argv[i];
    }
    tv::setCommandLine(std::move(cmd));
    return tv::startProcess(nullptr, 0);
}
