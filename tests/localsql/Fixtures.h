// Helpers of the database layer's tests: folders with awkward names, file snapshots, the
// independent dBASE reader, and a file layer that fails on cue.
#pragma once

#include "platform/localsql/Dbf.h"
#include "platform/localsql/FileIo.h"

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

namespace fixtures {

// A folder whose name has a blank, Cyrillic letters and a single quote.
class OddFolder {
public:
    OddFolder();
    QString path(const QString &file) const;
    bool isValid() const { return ok_; }

private:
    QTemporaryDir root_;
    QString dir_;
    bool ok_ = false;
};

// The path as a statement names it: in single quotes, an inner quote doubled.
QString quoted(const QString &path);

QByteArray fileBytes(const QString &path);
void writeBytes(const QString &path, const QByteArray &bytes);

// The scratch table as the monitoring server exports it: TDATETIME N(20,12), then counters.
void writeTempTable(const QString &path, const QList<double> &stamps,
                    const QList<QList<QVariant>> &counters, int counterDecimals = 0,
                    int firstCounter = 1);

// The table as the independent reader (Debian's python3-dbfread) sees it:
// {"version": int, "fields": [{"name","type","length","decimals"}], "records": [{...}]}.
// An empty object with "error" set when the reader failed.
QJsonObject independentRead(const QString &path);

// A file layer whose Nth operation (counted from 1 after arm()) fails with EIO; with
// `permanent` every later one fails too.
class FailingIo : public kp::localsql::FileIo {
public:
    void arm(int n, bool permanent) {
        failAt_ = n, permanent_ = permanent, count_ = 0, failed_ = false;
    }
    void disarm() { failAt_ = 0; }
    bool failed() const { return failed_; }
    int count() const { return count_; }

    int open(const char *path, int flags, int mode) override;
    ssize_t pread(int fd, void *buf, size_t n, off_t at) override;
    ssize_t pwrite(int fd, const void *buf, size_t n, off_t at) override;
    int fstat(int fd, struct stat *st) override;
    int stat(const char *path, struct stat *st) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int rename(const char *from, const char *to, bool noReplace) override;
    int unlink(const char *path) override;

private:
    bool fail();
    int failAt_ = 0;
    bool permanent_ = false;
    int count_ = 0;
    bool failed_ = false;
};

// Installs a FileIo for the lifetime of the guard.
struct IoGuard {
    explicit IoGuard(kp::localsql::FileIo *io) { kp::localsql::setFileIo(io); }
    ~IoGuard() { kp::localsql::setFileIo(nullptr); }
};

} // namespace fixtures

Q_DECLARE_METATYPE(kp::localsql::DbfField)
