#include "app/log.h"

#include <cstdio>
#include <windows.h>

#include "probe/winstr.h"

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

void debuggerOutput(std::string_view line) { OutputDebugStringW(toWide(line).c_str()); }

bool appendLogFileLine(const std::string& path, std::string_view line) {
    // _wfopen shares the file for reading and writing with other openers.
    FILE* f = _wfopen(toWide(path).c_str(), L"ab");
    if (!f)
        return false;
    bool ok = true;
    if (std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) == 0)
        ok = std::fwrite("\xEF\xBB\xBF", 1, 3, f) == 3;
    ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

} // namespace tv
