#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
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

std::optional<std::string> readWholeFile(const std::string& path) {
    File file = File::open(path, File::Mode::Read);
    if (!file.isOpen())
        return std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        long n = file.read(buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool atomicReplace(const std::string& requested, std::string_view bytes) {
    // A link is followed, so the file it names is replaced and the link stays.
    std::string path = requested;
    if (char* resolved = ::realpath(requested.c_str(), nullptr)) {
        path = resolved;
        ::free(resolved);
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    bool hadFile = ::stat(path.c_str(), &old) == 0;
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
        if (hadFile)
            file.setMode(old.st_mode & 07777);
        if (!file.writeAll(bytes) || !file.sync()) {
            file.close();
            removeFile(temporary);
            return false;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        removeFile(temporary);
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
        flags |= O_RDONLY;
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
