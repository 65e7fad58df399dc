#include "FileIo.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kp::localsql {

int FileIo::open(const char *path, int flags, int mode) {
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t FileIo::pread(int fd, void *buf, size_t count, off_t offset) {
    ssize_t n;
    do
        n = ::pread(fd, buf, count, offset);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t FileIo::pwrite(int fd, const void *buf, size_t count, off_t offset) {
    ssize_t n;
    do
        n = ::pwrite(fd, buf, count, offset);
    while (n < 0 && errno == EINTR);
    return n;
}

int FileIo::fstat(int fd, struct stat *st) { return ::fstat(fd, st); }
int FileIo::stat(const char *path, struct stat *st) { return ::stat(path, st); }
int FileIo::fsync(int fd) { return ::fsync(fd); }
int FileIo::close(int fd) { return ::close(fd); }
int FileIo::unlink(const char *path) { return ::unlink(path); }

int FileIo::rename(const char *from, const char *to, bool noReplace) {
    if (!noReplace) return ::rename(from, to);
    int r = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (r == 0 || (errno != EINVAL && errno != ENOSYS)) return r;
    // The file system cannot refuse a replacement itself: link() refuses an existing name.
    if (::link(from, to) == 0) return ::unlink(from), 0;
    if (errno == EEXIST) return -1;
    struct stat st;
    if (::stat(to, &st) == 0) return errno = EEXIST, -1;
    return ::rename(from, to);
}

namespace {
FileIo plainIo;
std::atomic<FileIo *> currentIo{&plainIo};
} // namespace

FileIo &fileIo() { return *currentIo.load(std::memory_order_acquire); }
void setFileIo(FileIo *io) { currentIo.store(io ? io : &plainIo, std::memory_order_release); }

FileIdentity identityOf(const struct stat &st) {
    FileIdentity id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::int64_t>(st.st_size);
    id.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

FileIdentity identityOf(const QString &path) { return identityOfNative(nativePath(path)); }

FileIdentity identityOfNative(const QByteArray &nativeName) {
    struct stat st;
    if (fileIo().stat(nativeName.constData(), &st) != 0) {
        FileIdentity id;
        if (errno != ENOENT && errno != ENOTDIR) id.size = -2, id.inode = std::uint64_t(errno);
        return id;
    }
    if (!S_ISREG(st.st_mode)) return FileIdentity{};
    return identityOf(st);
}

QByteArray nativePath(const QString &path) { return QFile::encodeName(path); }

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

} // namespace kp::localsql
