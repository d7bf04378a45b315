// Snapshot files on POSIX: open/read/write/rename, directory enumeration.
#include "bridge/storage.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/text.h"

namespace tv {
namespace {

// Temporary files end in '~', which the name rule never lets a snapshot use.
constexpr std::string_view kTempSuffix = ".tmp~";

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (it can report a
    // failed deferred write).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool writeTextFile(const std::string& path, std::string_view text) {
    const std::string bytes = toValidUtf8(text);
    const std::string temp = path + std::string(kTempSuffix);
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        return false;
    bool ok = writeAll(fd.get(), bytes.data(), bytes.size());
    ok = fd.close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool readTextFile(const std::string& path, std::string& text) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxReadBytes)
        return false;
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break; // the file shrank meanwhile: keep what was there
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    text = toValidUtf8(bytes);
    return true;
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::vector<FileEntry> listSnapshotFiles(const std::string& dir) {
    std::vector<FileEntry> list;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return list;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (!hasJsonExtension(name))
            continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode))
            continue;
        list.push_back({toValidUtf8(name), static_cast<uint64_t>(st.st_size)});
    }
    ::closedir(d);
    return list;
}

} // namespace tv
