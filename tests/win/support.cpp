#include "tests/win/support.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/winstr.h"

// ---- allocation capture: replaces the global operator new and delete --------

namespace {

constexpr int kMaxBlocks = 256;
constexpr int kRetired = -1000; // freed, then handed out again by someone else
std::atomic<void*> gBlocks[kMaxBlocks];
std::atomic<int> gFrees[kMaxBlocks];
std::atomic<int> gBlockCount{0};
std::atomic<bool> gArmed{false};
thread_local bool tCapturing = false;

void* allocate(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    if (!gArmed.load())
        return p;
    // A recorded block that was freed and now comes back: a new block of the
    // capture takes the old entry over; anyone else's retires it, so its
    // later free is not taken for a second free of ours.
    const int n0 = std::min(gBlockCount.load(), kMaxBlocks);
    for (int i = 0; i < n0; ++i) {
        if (gBlocks[i].load() == p && gFrees[i].load() >= 1) {
            if (tCapturing) {
                gFrees[i].store(0);
                return p;
            }
            gFrees[i].store(kRetired);
        }
    }
    if (tCapturing) {
        const int i = gBlockCount.fetch_add(1);
        if (i < kMaxBlocks) {
            gFrees[i].store(0);
            gBlocks[i].store(p);
        }
    }
    return p;
}

void deallocate(void* p) {
    if (!p)
        return;
    if (gArmed.load()) {
        const int n = std::min(gBlockCount.load(), kMaxBlocks);
        for (int i = 0; i < n; ++i)
            if (gBlocks[i].load() == p && gFrees[i].load() != kRetired)
                gFrees[i].fetch_add(1);
    }
    std::free(p);
}

} // namespace

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    deallocate(p);
}
void operator delete[](void* p) noexcept {
    deallocate(p);
}
void operator delete(void* p, std::size_t) noexcept {
    deallocate(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    deallocate(p);
}

namespace tvtest {

void AllocationCapture::begin() {
    gArmed.store(false);
    gBlockCount.store(0);
    gArmed.store(true);
    tCapturing = true;
}

void AllocationCapture::end() {
    tCapturing = false;
}

size_t AllocationCapture::blocks() const {
    return static_cast<size_t>(std::min(gBlockCount.load(), kMaxBlocks));
}

bool AllocationCapture::allFreedOnce() const {
    if (gBlockCount.load() > kMaxBlocks)
        return false;
    for (size_t i = 0; i < blocks(); ++i)
        if (gFrees[i].load() != 1 && gFrees[i].load() != kRetired)
            return false;
    return true;
}

size_t AllocationCapture::live() const {
    size_t n = 0;
    for (size_t i = 0; i < blocks(); ++i)
        if (gFrees[i].load() == 0)
            ++n;
    return n;
}

// ---- paths, files, waits ----------------------------------------------------

std::wstring windowsPath(const std::string& path) {
    using Fn = WCHAR*(CDECL*)(const char*);
    static Fn toDos = [] {
        Fn fn = nullptr;
        FARPROC p = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
        std::memcpy(&fn, &p, sizeof fn);
        return fn;
    }();
    if (toDos && !path.empty() && path[0] == '/') {
        if (WCHAR* dos = toDos(path.c_str())) {
            std::wstring w = dos;
            HeapFree(GetProcessHeap(), 0, dos);
            return w;
        }
    }
    std::wstring w = tv::toWide(path);
    for (auto& c : w)
        if (c == L'/')
            c = L'\\';
    return w;
}

bool waitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(50);
    }
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam)); // leave it for the real loop
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (done())
                return true;
        }
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(
            0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(50, end - now)), QS_ALLINPUT);
    }
}

std::vector<std::string> readLines(const std::wstring& path) {
    std::vector<std::string> lines;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return lines;
    std::string data;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0)
        data.append(buf, got);
    CloseHandle(f);
    if (data.rfind("\xEF\xBB\xBF", 0) == 0)
        data.erase(0, 3);
    size_t start = 0;
    while (start < data.size()) {
        size_t nl = data.find('\n', start);
        if (nl == std::string::npos)
            nl = data.size(); // a line still being written counts as it stands
        std::string line = data.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = nl + 1;
    }
    return lines;
}

std::vector<std::string> logMessages(const std::wstring& path) {
    std::vector<std::string> out;
    for (std::string& line : readLines(path)) {
        const size_t cut = line.find("] ");
        out.push_back(line.rfind("[", 0) == 0 && cut != std::string::npos ? line.substr(cut + 2)
                                                                          : line);
    }
    return out;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line)
            return true;
    return false;
}

int indexOf(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0)
            return static_cast<int>(i);
    return -1;
}

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

bool fileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool dirExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

ScopedEnv::ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buf[4096];
    const DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    if (n > 0 && n < 4096) {
        hadOld_ = true;
        old_.assign(buf, n);
    }
    SetEnvironmentVariableW(name, value);
}

ScopedEnv::~ScopedEnv() {
    SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

std::vector<uint32_t> iconPixels(HICON icon, int& size) {
    size = 0;
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info))
        return {};
    std::vector<uint32_t> px;
    BITMAP bm{};
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm) && bm.bmWidth == bm.bmHeight) {
        size = bm.bmWidth;
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = size;
        bi.bmiHeader.biHeight = -size; // top row first
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        px.assign(static_cast<size_t>(size) * size, 0);
        HDC dc = GetDC(nullptr);
        if (GetDIBits(dc, info.hbmColor, 0, size, px.data(), &bi, DIB_RGB_COLORS) != size)
            px.clear();
        ReleaseDC(nullptr, dc);
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    return px;
}

std::string fnv1aHex(const std::wstring& text) {
    unsigned long long h = 1469598103934665603ull;
    for (wchar_t c : text) {
        h ^= static_cast<unsigned short>(c);
        h *= 1099511628211ull;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", h);
    return buf;
}

} // namespace tvtest
