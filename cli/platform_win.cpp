#include "cli/platform.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <io.h>
#include <windows.h>

#include "cli/front.h"

namespace tv::cli {

bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {
BOOL WINAPI onCtrl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        requestInterrupt();
        return TRUE;
    }
    return FALSE;
}
} // namespace

void installInterruptHandler() { SetConsoleCtrlHandler(onCtrl, TRUE); }

std::string localStamp() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u%02u%02u_%02u%02u%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return buf;
}

std::string utcIsoNow() {
    SYSTEMTIME st{};
    GetSystemTime(&st);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return buf;
}

std::string localDateTime(int64_t epochSeconds) {
    // FILETIME counts 100 ns from 1601-01-01.
    const uint64_t ticks = (static_cast<uint64_t>(epochSeconds) + 11644473600ULL) * 10000000ULL;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return "?";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04u, %02u:%02u:%02u", local.wDay, local.wMonth,
                  local.wYear, local.wHour, local.wMinute, local.wSecond);
    return buf;
}

Lang defaultLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? Lang::Ru : Lang::En;
}

void prepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

} // namespace tv::cli
