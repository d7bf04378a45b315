#include "base/runtime.h"

#include <objbase.h>
#include <windows.h>
#include <winsock2.h>

namespace tv {

void initPlatformRuntimes() {
    // Results are not examined: the program carries on either way.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WSADATA wsa{};
    WSAStartup(MAKEWORD(2, 2), &wsa);
}

} // namespace tv
