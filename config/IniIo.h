// The file operations of the INI layer, one virtual per system call, so that a test can make
// the Nth operation fail. loadFile and replaceFile are the two things the layer does with a file.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

namespace kp::config {

// Thin wrappers over the POSIX calls; each returns what the call returns and sets errno.
class IniIo {
public:
    virtual ~IniIo() = default;
    virtual int open(const char *path, int flags, mode_t mode);
    virtual ssize_t read(int fd, void *buf, size_t count);
    virtual ssize_t write(int fd, const void *buf, size_t count);
    virtual int fstat(int fd, struct stat *st);
    virtual int stat(const char *path, struct stat *st);
    virtual int fchmod(int fd, mode_t mode);
    virtual int fchown(int fd, uid_t owner, gid_t group);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int rename(const char *from, const char *to);
    virtual int unlink(const char *path);

    // The real file system.
    static IniIo &system();
};

struct LoadedFile {
    enum Status { Missing, Unreadable, Loaded };
    Status status = Missing;
    QByteArray bytes;
};

// Reads a whole file. A file that does not exist is Missing; one that exists but cannot be read
// (a directory, no permission, an I/O error) is Unreadable, so that a write never replaces a
// file whose contents it could not see.
LoadedFile loadFile(IniIo &io, const QString &path);

// Replaces the file at path with bytes: a temporary file in the same directory is written,
// flushed to disk, given the old file's permissions and owner, and renamed over the old file.
// A file without any write permission bit counts as read-only. Returns false (errno set) when
// anything fails; the old file is then untouched and the temporary file removed.
bool replaceFile(IniIo &io, const QString &path, const QByteArray &bytes);

} // namespace kp::config
