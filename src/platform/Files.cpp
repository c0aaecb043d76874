#include "platform/Files.h"

#include "platform/Clock.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vetlina {

bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::vector<std::string> listFiles(const std::string& folder, std::string_view pattern) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return names;
    std::string glob(pattern);
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (::fnmatch(glob.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) != 0)
            continue;
        if (fileExists(folder + "/" + name))
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string baseName(std::string_view path) {
    auto slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

namespace {

// Reads a stream until its end, its limit or a silence of silenceMs.
void readStream(int fd, uint32_t silenceMs, InputRead& result) {
    char buffer[65536];
    uint32_t lastData = tickMs();
    for (;;) {
        if (tickReached(lastData + silenceMs)) {
            result.error = ETIMEDOUT;
            return;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) {
            result.error = errno;
            return;
        }
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            result.error = errno;
            return;
        }
        if (n == 0)
            return;
        if (result.bytes.size() + static_cast<std::size_t>(n) > kInputLimit) {
            result.error = EFBIG;
            return;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(n));
        lastData = tickMs();
    }
}

// Whether the permission bits of a file let this process (by its effective user and
// groups) write it. Root is held to the bits too: a file its owner made read-only is
// not replaced by a tool run as root.
bool writableByMode(const struct stat& st) {
    if (st.st_uid == ::geteuid())
        return (st.st_mode & S_IWUSR) != 0;
    bool inGroup = st.st_gid == ::getegid();
    if (!inGroup) {
        const int count = ::getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> groups(static_cast<std::size_t>(count));
            const int got = ::getgroups(count, groups.data());
            for (int i = 0; i < got && !inGroup; ++i)
                inGroup = groups[static_cast<std::size_t>(i)] == st.st_gid;
        }
    }
    return (st.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

} // namespace

InputRead readInput(const std::string& path, uint32_t silenceMs) {
    InputRead result;
    // Non-blocking, so that a FIFO without a writer cannot hold the open.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        result.error = errno != 0 ? errno : EIO;
        return result;
    }
    result.opened = true;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.error = errno != 0 ? errno : EIO;
        return result;
    }
    if (S_ISDIR(st.st_mode)) {
        result.error = EISDIR;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        readStream(fd.get(), silenceMs, result);
        return result;
    }
    if (st.st_size > static_cast<off_t>(kInputLimit)) {
        result.error = EFBIG;
        return result;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno != 0 ? errno : EIO;
            return result;
        }
        if (n == 0)
            return result;
        if (result.bytes.size() + static_cast<std::size_t>(n) > kInputLimit) {
            result.error = EFBIG;
            return result;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string inputErrorText(int error) {
    switch (error) {
    case ETIMEDOUT:
        return "nothing came for " + std::to_string(kStreamSilenceMs / 1000) +
               " s (a FIFO or pipe without a writer?)";
    case EFBIG:
        return "larger than " + std::to_string(kInputLimit) + " bytes";
    default: {
        char buffer[256];
        return strerror_r(error != 0 ? error : EIO, buffer, sizeof buffer);
    }
    }
}

std::optional<std::string> readWholeFile(const std::string& path) {
    InputRead read = readInput(path);
    if (!read.ok()) {
        errno = read.error;
        return std::nullopt;
    }
    return std::move(read.bytes);
}

bool atomicReplace(const std::string& requested, std::string_view bytes) {
    // A link is followed, so the file it names is replaced and the link stays.
    std::string path = requested;
    if (char* resolved = ::realpath(requested.c_str(), nullptr)) {
        path = resolved;
        ::free(resolved);
    }
    // Only a regular file that this user may write is replaced; a missing one is made.
    struct stat old {};
    const bool hadFile = ::stat(path.c_str(), &old) == 0;
    if (!hadFile && errno != ENOENT)
        return false;
    if (hadFile && !S_ISREG(old.st_mode)) {
        errno = EINVAL;
        return false;
    }
    if (hadFile && !writableByMode(old)) {
        errno = EACCES;
        return false;
    }
    auto slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        File file = File::open(temporary, File::Mode::CreateExclusive);
        if (!file.isOpen()) {
            // A temporary left by a crash of this same process id is stale.
            removeFile(temporary);
            file = File::open(temporary, File::Mode::CreateExclusive);
        }
        if (!file.isOpen())
            return false;
        if (hadFile) {
            // The new file keeps the old one's permissions, and its owner and group
            // where this process may give them (root may; others keep their own).
            file.setOwner(old.st_uid, old.st_gid);
            file.setMode(old.st_mode & 07777);
        }
        if (!file.writeAll(bytes) || !file.sync()) {
            const int error = errno;
            file.close();
            removeFile(temporary);
            errno = error;
            return false;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        removeFile(temporary);
        errno = error;
        return false;
    }
    // The rename itself is made durable by syncing the folder.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

File::~File() {
    close();
}

File::File(File&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

File File::open(const std::string& path, Mode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        // Non-blocking, so that a FIFO without a writer cannot hold the open; only a
        // regular file is kept, and reading one never blocks.
        flags |= O_RDONLY | O_NONBLOCK;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::CreateExclusive:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fd = -1;
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        }
    }
    return File(fd);
}

File File::create(const std::string& path) {
    return File(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

bool File::lockForWriting() {
    return isOpen() && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

bool File::writeAll(std::string_view bytes) {
    if (!isOpen())
        return false;
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

long File::read(char* buffer, std::size_t size) {
    if (!isOpen())
        return -1;
    for (;;) {
        ssize_t n = ::read(fd_, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<long>(n);
    }
}

bool File::seek(int64_t position) {
    return isOpen() && position >= 0 && ::lseek(fd_, position, SEEK_SET) == position;
}

bool File::seekToEnd() {
    return isOpen() && ::lseek(fd_, 0, SEEK_END) >= 0;
}

int64_t File::position() const {
    return isOpen() ? ::lseek(fd_, 0, SEEK_CUR) : -1;
}

int64_t File::size() const {
    struct stat st {};
    return isOpen() && ::fstat(fd_, &st) == 0 ? st.st_size : -1;
}

bool File::truncateHere() {
    int64_t at = position();
    return at >= 0 && ::ftruncate(fd_, at) == 0;
}

void File::setOwner(unsigned owner, unsigned group) {
    if (isOpen())
        (void)::fchown(fd_, owner, group);
}

bool File::setMode(unsigned mode) {
    return isOpen() && ::fchmod(fd_, mode) == 0;
}

bool File::sync() {
    return isOpen() && ::fsync(fd_) == 0;
}

void File::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace vetlina
