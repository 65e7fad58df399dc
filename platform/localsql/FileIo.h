// The file operations of the database layer. Every read and write of a table goes through the
// current FileIo, so that a test can make the Nth operation fail and check what is left on disk.
#pragma once

#include <QString>
#include <climits>
#include <cstdint>
#include <sys/types.h>

struct stat;

namespace kp::localsql {

// What identifies one version of a file on disk: a rewrite through rename gives a new inode, an
// append changes the size and the modification time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileIdentity &) const = default;

    // After an append of our own the size is known but the modification time is not; the
    // next look at the file by path supplies it.
    static constexpr std::int64_t kUnknownTime = INT64_MIN;
    bool isOwnWriteOf(const FileIdentity &actual) const {
        return mtimeNs == kUnknownTime && size >= 0 && device == actual.device &&
               inode == actual.inode && size == actual.size;
    }
};

// POSIX-shaped hooks. Each returns what the POSIX call returns and leaves errno set on failure.
class FileIo {
public:
    virtual ~FileIo() = default;
    virtual int open(const char *path, int flags, int mode);
    virtual ssize_t pread(int fd, void *buf, size_t count, off_t offset);
    virtual ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset);
    virtual int fstat(int fd, struct stat *st);
    virtual int stat(const char *path, struct stat *st);
    virtual int fsync(int fd);
    virtual int close(int fd);
    // With noReplace the call fails with EEXIST when `to` exists.
    virtual int rename(const char *from, const char *to, bool noReplace);
    virtual int unlink(const char *path);
};

// The hooks in use (process-wide). setFileIo(nullptr) restores the plain POSIX calls; tests set
// their own before they start any statement and restore it afterwards.
FileIo &fileIo();
void setFileIo(FileIo *io);

// The identity of a file by path: size -1 when there is no such file, -2 when it could not be
// looked at (the errno is then in `inode`).
FileIdentity identityOf(const QString &path);
FileIdentity identityOf(const struct stat &st);
// The same for a name already encoded with nativePath.
FileIdentity identityOfNative(const QByteArray &nativeName);

// The encoded file name for the system calls.
QByteArray nativePath(const QString &path);

// The text of errno for messages ("No such file or directory").
QString errnoText(int err);

} // namespace kp::localsql
