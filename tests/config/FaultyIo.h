// File operations that fail on cue: the Nth operation (counted from 1 after reset()) fails
// once, or it and every later one fails, or the process dies there as in a crash.
#pragma once

#include "config/IniIo.h"

#include <cerrno>
#include <functional>
#include <unistd.h>

class FaultyIo : public kp::config::IniIo {
public:
    enum Mode { Once, FromThenOn, Crash };

    void reset() { ops = 0; }
    void failAt(int n, Mode m = Once, int error = EIO) {
        reset();
        target = n;
        mode = m;
        err = error;
    }
    void never() { target = 0; }

    int ops = 0;
    int opens = 0; // every open, failing or not
    // Called with the name of the operation; returning an errno makes it fail.
    std::function<int(const char *op, const char *path)> onOp;

    int open(const char *path, int flags, mode_t m) override {
        ++opens;
        return fault("open", path) ? -1 : IniIo::open(path, flags, m);
    }
    ssize_t read(int fd, void *buf, size_t n) override {
        return fault("read") ? -1 : IniIo::read(fd, buf, n);
    }
    ssize_t write(int fd, const void *buf, size_t n) override {
        if (fault("write")) {
            // A disk that fills up takes part of the data first.
            IniIo::write(fd, buf, n / 2);
            return -1;
        }
        return IniIo::write(fd, buf, n);
    }
    int fstat(int fd, struct stat *st) override {
        return fault("fstat") ? -1 : IniIo::fstat(fd, st);
    }
    int stat(const char *path, struct stat *st) override {
        return fault("stat", path) ? -1 : IniIo::stat(path, st);
    }
    int fchmod(int fd, mode_t m) override { return fault("fchmod") ? -1 : IniIo::fchmod(fd, m); }
    int fchown(int fd, uid_t u, gid_t g) override {
        return fault("fchown") ? -1 : IniIo::fchown(fd, u, g);
    }
    int fsync(int fd) override { return fault("fsync") ? -1 : IniIo::fsync(fd); }
    int close(int fd) override {
        // The descriptor is gone either way, as with a real close that reports an error.
        bool f = fault("close");
        int rc = IniIo::close(fd);
        return f ? -1 : rc;
    }
    int rename(const char *from, const char *to) override {
        return fault("rename", to) ? -1 : IniIo::rename(from, to);
    }
    int unlink(const char *path) override {
        return fault("unlink", path) ? -1 : IniIo::unlink(path);
    }

private:
    bool fault(const char *op, const char *path = "") {
        ++ops;
        if (onOp) {
            if (int e = onOp(op, path)) {
                errno = e;
                return true;
            }
        }
        if (target == 0) return false;
        if (ops == target || (mode == FromThenOn && ops > target)) {
            if (mode == Crash) _exit(0);
            errno = err;
            return true;
        }
        return false;
    }

    int target = 0;
    Mode mode = Once;
    int err = EIO;
};
