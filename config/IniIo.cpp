#include "config/IniIo.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kp::config {

int IniIo::open(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t IniIo::read(int fd, void *buf, size_t count) { return ::read(fd, buf, count); }
ssize_t IniIo::write(int fd, const void *buf, size_t count) { return ::write(fd, buf, count); }
int IniIo::fstat(int fd, struct stat *st) { return ::fstat(fd, st); }
int IniIo::stat(const char *path, struct stat *st) { return ::stat(path, st); }
int IniIo::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int IniIo::fchown(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int IniIo::fsync(int fd) { return ::fsync(fd); }
int IniIo::close(int fd) { return ::close(fd); }
int IniIo::rename(const char *from, const char *to) { return ::rename(from, to); }
int IniIo::unlink(const char *path) { return ::unlink(path); }

IniIo &IniIo::system() {
    static IniIo io;
    return io;
}

namespace {

// Closes the descriptor on every way out; keeps errno of the failure being reported.
class Fd {
public:
    Fd(IniIo &io, int fd) : io_(io), fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            int saved = errno;
            io_.close(fd_);
            errno = saved;
        }
    }
    int get() const { return fd_; }
    // A close that fails after writing means the data may not have reached the disk.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return io_.close(fd) == 0;
    }

private:
    IniIo &io_;
    int fd_;
};

bool writeAll(IniIo &io, int fd, const QByteArray &bytes) {
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n = io.write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// The file a write really replaces: the target of a symbolic link, so the link survives.
QString resolvedTarget(const QString &path) {
    QFileInfo info(path);
    if (info.isSymLink()) {
        QString target = info.canonicalFilePath();
        if (!target.isEmpty()) return target;
    }
    return path;
}

} // namespace

LoadedFile loadFile(IniIo &io, const QString &path) {
    LoadedFile result;
    const QByteArray native = QFile::encodeName(path);
    int raw = io.open(native.constData(), O_RDONLY | O_CLOEXEC, 0);
    if (raw < 0) {
        result.status = (errno == ENOENT) ? LoadedFile::Missing : LoadedFile::Unreadable;
        return result;
    }
    Fd fd(io, raw);
    result.status = LoadedFile::Unreadable;
    struct stat st {};
    if (io.fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return result;
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size));
    char chunk[16384];
    for (;;) {
        ssize_t n = io.read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return result;
        }
        if (n == 0) break;
        bytes.append(chunk, qsizetype(n));
    }
    result.status = LoadedFile::Loaded;
    result.bytes = std::move(bytes);
    return result;
}

bool replaceFile(IniIo &io, const QString &path, const QByteArray &bytes) {
    const QString target = resolvedTarget(path);
    const QByteArray nativeTarget = QFile::encodeName(target);

    struct stat old {};
    bool exists = false;
    if (io.stat(nativeTarget.constData(), &old) == 0) {
        exists = true;
        if (!S_ISREG(old.st_mode)) {
            errno = EISDIR;
            return false;
        }
        // Like the read-only attribute on Windows: no write bit means nobody writes it, root too.
        if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            errno = EACCES;
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }

    const QFileInfo info(target);
    const QString prefix = info.absolutePath() + QLatin1String("/.") + info.fileName() + '.';
    QByteArray nativeTemp;
    int raw = -1;
    for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
        quint32 tag = QRandomGenerator::global()->generate();
        nativeTemp = QFile::encodeName(prefix + QString::number(tag, 36) + QLatin1String(".tmp"));
        // 0666 lets the umask decide a new file's permissions, as for any file created.
        raw = io.open(nativeTemp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) return false;
    }
    if (raw < 0) return false;

    Fd fd(io, raw);
    bool ok = writeAll(io, fd.get(), bytes);
    if (ok && exists) {
        ok = io.fchmod(fd.get(), old.st_mode & 07777) == 0;
        // The owner is kept where we may set it; a file we cannot give away stays ours.
        if (ok) io.fchown(fd.get(), old.st_uid, old.st_gid);
    }
    ok = ok && io.fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && io.rename(nativeTemp.constData(), nativeTarget.constData()) == 0;
    if (!ok) {
        int saved = errno;
        io.unlink(nativeTemp.constData());
        errno = saved;
    }
    return ok;
}

} // namespace kp::config
