// Snapshot files on Windows: CreateFileW / ReadFile / WriteFile / MoveFileExW,
// FindFirstFileW enumeration. Paths are UTF-8 inside, UTF-16 at the calls.
#include "bridge/storage.h"

#include <windows.h>

#include <algorithm>

#include "base/text.h"
#include "base/winstr.h"

namespace tv {
namespace {

// Temporary files end in '~', which the name rule never lets a snapshot use.
constexpr std::wstring_view kTempSuffix = L".tmp~";

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (valid())
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    bool close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h != INVALID_HANDLE_VALUE && h != nullptr && CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

} // namespace

bool writeTextFile(const std::string& path, std::string_view text) {
    const std::string bytes = toValidUtf8(text);
    const std::wstring target = toWide(path);
    const std::wstring temp = target + std::wstring(kTempSuffix);
    Handle h(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(h.get(), bytes.data() + done, chunk, &written, nullptr) != 0 &&
             written == chunk;
        done += written;
    }
    ok = h.close() && ok;
    ok = ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok)
        DeleteFileW(temp.c_str());
    return ok;
}

bool readTextFile(const std::string& path, std::string& text) {
    Handle h(CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxReadBytes)
        return false;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        if (!ReadFile(h.get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n,
                      nullptr))
            return false;
        if (n == 0)
            break; // the file shrank meanwhile: keep what was there
        got += n;
    }
    bytes.resize(got);
    text = toValidUtf8(bytes);
    return true;
}

bool deleteFile(const std::string& path) {
    return DeleteFileW(toWide(path).c_str()) != 0;
}

std::vector<FileEntry> listSnapshotFiles(const std::string& dir) {
    std::vector<FileEntry> list;
    const std::wstring pattern = toWide(dir) + L"\\*.json";
    WIN32_FIND_DATAW fd{};
    HANDLE find = FindFirstFileW(pattern.c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return list;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        std::string name = fromWide(fd.cFileName);
        // The wildcard can also match through short 8.3 names; keep the same
        // set as the POSIX listing.
        if (!hasJsonExtension(name))
            continue;
        const uint64_t size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        list.push_back({std::move(name), size});
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return list;
}

} // namespace tv
