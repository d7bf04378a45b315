// Helpers of the Windows window tests: paths under Wine, bounded waits, log
// and record files, icon pixels read back from an HICON, and a capture of the
// heap blocks allocated by one call (to see that each was freed exactly once).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvtest {

// A build path (Unix under Wine, given by CMake) as a Windows path.
std::wstring windowsPath(const std::string& path);

// Polls `done` every 50 ms until it holds or `timeoutMs` passed.
bool waitFor(const std::function<bool()>& done, DWORD timeoutMs);

// Dispatches this thread's messages until `done` holds or `timeoutMs` passed.
// Stops early (false) when WM_QUIT arrives.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// UTF-8 lines of a text file, without a byte-order mark or CR; empty when the
// file is missing. Read while another process may be appending.
std::vector<std::string> readLines(const std::wstring& path);

// The messages of a probe.log: each line without its "[timestamp] " prefix.
std::vector<std::string> logMessages(const std::wstring& path);

bool contains(const std::vector<std::string>& lines, const std::string& line);
// Index of the first line starting with `prefix`, or -1.
int indexOf(const std::vector<std::string>& lines, const std::string& prefix);

void removeTree(const std::wstring& path);
bool fileExists(const std::wstring& path);
bool dirExists(const std::wstring& path);

// Sets (or with null removes) an environment variable for this process and
// the processes it starts; the old value comes back at scope end.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const wchar_t* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_, old_;
    bool hadOld_ = false;
};

// The icon's colour bitmap as 0xAARRGGBB values, rows top first.
std::vector<uint32_t> iconPixels(HICON icon, int& size);

// FNV-1a over UTF-16 code units, as the fake runtime reports NavigateToString.
std::string fnv1aHex(const std::wstring& text);

// One capture at a time (begin() starts afresh). Records the heap blocks that
// operator new hands out on this thread between
// begin() and end(), and counts how often each is deleted afterwards.
class AllocationCapture {
public:
    void begin();
    void end();
    size_t blocks() const;
    // Every captured block deleted exactly once so far.
    bool allFreedOnce() const;
    // How many captured blocks are still live.
    size_t live() const;
};

} // namespace tvtest
