#include "base/log.h"

#include <cstdio>
#include <windows.h>

#include "base/winstr.h"

namespace tv {

const std::string_view kLogLineEnd = "\r\n";

LocalTime localTimeNow() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    return t;
}

void debuggerOutput(std::string_view line) {
    OutputDebugStringW(toWide(line).c_str());
}

// _wfopen shares the file for reading and writing with other openers.
FILE* openForAppend(const std::string& path) {
    return _wfopen(toWide(path).c_str(), L"ab");
}

} // namespace tv
