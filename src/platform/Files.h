// File helpers: folders, listing by pattern, a file handle whose writes go
// straight to the operating system, exclusive creation and atomic replacement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vetlina {

// Creates one folder; false when it could not be created (also when it exists).
bool makeFolder(const std::string& path);
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
bool removeFile(const std::string& path);

// Names (without folder) of the regular files in folder that match a pattern
// such as "zmk*.dat" ('*' and '?' wildcards, compared case-insensitively like
// the platform's file search), sorted by name.
std::vector<std::string> listFiles(const std::string& folder, std::string_view pattern);

// The last component of a path ("SCN/a.scn" -> "a.scn").
std::string baseName(std::string_view path);

// The most that is read of one input file or stream: far more than any scenario,
// template, configuration or JSON file of the system.
inline constexpr std::size_t kInputLimit = std::size_t{64} << 20;
// A stream that sends nothing for this long (clock milliseconds) is given up.
inline constexpr uint32_t kStreamSilenceMs = 10000;

// What reading a whole input gave: its bytes, or the system's error code and whether
// the input could be opened at all.
struct InputRead {
    std::string bytes;
    int error = 0;
    bool opened = false;
    bool ok() const { return error == 0; }
};

// Reads a whole input of at most kInputLimit bytes (EFBIG beyond). A regular file is
// read as it is. A FIFO, a pipe (as process
// substitution gives), a socket or a character device is read as a stream until its end,
// never waiting longer than silenceMs for
// the next bytes (ETIMEDOUT); opening never waits for a FIFO's writer. A folder: EISDIR.
InputRead readInput(const std::string& path, uint32_t silenceMs = kStreamSilenceMs);
// The reason of a failed readInput in English, for tools and logs: the system's text,
// or what the limits of a stream mean.
std::string inputErrorText(int error);
// The bytes of readInput; nullopt when it cannot be read (errno says why).
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces path by the given bytes atomically: a temporary file in the same
// folder is written and synced, then renamed over path. A crash or a full disk in
// the middle leaves either the old file or the new one, never a truncated one.
// The new file keeps the old one's permissions; a symbolic link is followed.
// Only a regular file that the caller may write by its permission bits is replaced
// (a missing one is created): anything else (a device such as /dev/null, a FIFO, a
// folder) is refused with EINVAL, and a file that its mode bits keep from this user,
// root included, with EACCES; the target is then untouched.
bool atomicReplace(const std::string& path, std::string_view bytes);

// An open file (RAII over a descriptor). Writes are unbuffered: what write()
// returns is with the operating system, and sync() flushes the system's buffers
// of the file to the disk ("flush the operating system's buffers").
class File {
public:
    enum class Mode {
        Read,           // existing file, read only
        ReadWrite,      // existing file, read and write
        CreateExclusive // new file, read and write; fails when the file exists
    };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static File open(const std::string& path, Mode mode);
    // Creates the file or truncates an existing one, for writing.
    static File create(const std::string& path);

    bool isOpen() const { return fd_ >= 0; }
    // Keeps other writers out while the file is open (other programs may read):
    // an exclusive advisory lock; false when another process holds it.
    bool lockForWriting();

    bool writeAll(std::string_view bytes);
    // Reads up to size bytes; -1 on failure.
    long read(char* buffer, std::size_t size);
    bool seek(int64_t position);
    bool seekToEnd();
    int64_t position() const;
    int64_t size() const;
    bool truncateHere();
    // Gives the file this owner and group where the process may (as fchown does).
    void setOwner(unsigned owner, unsigned group);
    // Sets the permission bits of the file (as chmod does).
    bool setMode(unsigned mode);
    bool sync();
    void close();

private:
    explicit File(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace vetlina
