// Windows entry (GUI subsystem). The command-line parameter is not used: the
// switches are read from the process's full command line.
#include <windows.h>

#include "app/startup.h"
#include "base/winstr.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    tv::setCommandLine(tv::fromWide(GetCommandLineW()));
    return tv::startProcess(instance, showCommand);
}
