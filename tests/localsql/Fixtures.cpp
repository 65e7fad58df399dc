#include "Fixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <cerrno>

namespace fixtures {

OddFolder::OddFolder() {
    dir_ = root_.path() + QStringLiteral("/Данные за 'май' 2009");
    ok_ = root_.isValid() && QDir().mkpath(dir_);
}

QString OddFolder::path(const QString &file) const { return dir_ + u'/' + file; }

QString quoted(const QString &path) {
    QString p = path;
    return u'\'' + p.replace(u'\'', QStringLiteral("''")) + u'\'';
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

void writeTempTable(const QString &path, const QList<double> &stamps,
                    const QList<QList<QVariant>> &counters, int counterDecimals, int firstCounter) {
    using namespace kp::localsql;
    QList<DbfField> fields{dbfNumeric(QStringLiteral("TDATETIME"), 20, 12)};
    const int n = counters.isEmpty() ? 2 : int(counters.first().size());
    for (int i = 0; i < n; ++i)
        fields << dbfNumeric(QStringLiteral("COUNTER%1").arg(firstCounter + i),
                             counterDecimals ? 14 : 10, counterDecimals);
    QList<DbfRow> rows;
    for (int r = 0; r < stamps.size(); ++r) {
        DbfRow row{stamps[r]};
        row += counters.value(r);
        rows << row;
    }
    writeDbfTable(path, fields, rows);
}

QJsonObject independentRead(const QString &path) {
    static const char *script = R"PY(
import json, sys, dbfread, datetime, decimal
t = dbfread.DBF(sys.argv[1], char_decode_errors='strict')
def plain(v):
    if isinstance(v, (datetime.date, datetime.datetime)): return v.isoformat()
    if isinstance(v, decimal.Decimal): return float(v)
    return v
out = {'version': t.header.dbversion, 'encoding': t.encoding,
       'fields': [{'name': f.name, 'type': f.type, 'length': f.length, 'decimals': f.decimal_count}
                  for f in t.fields],
       'records': [{k: plain(v) for k, v in r.items()} for r in t]}
sys.stdout.write(json.dumps(out, ensure_ascii=False))
)PY";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), QString::fromUtf8(script), path});
    QJsonObject failed;
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        failed[QStringLiteral("error")] = QString::fromUtf8(p.readAllStandardError());
        return failed;
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

bool FailingIo::fail() {
    if (failAt_ <= 0) return false;
    ++count_;
    if (count_ == failAt_ || (permanent_ && count_ > failAt_)) {
        failed_ = true;
        errno = EIO;
        return true;
    }
    return false;
}

int FailingIo::open(const char *path, int flags, int mode) {
    return fail() ? -1 : FileIo::open(path, flags, mode);
}
ssize_t FailingIo::pread(int fd, void *buf, size_t n, off_t at) {
    return fail() ? -1 : FileIo::pread(fd, buf, n, at);
}
ssize_t FailingIo::pwrite(int fd, const void *buf, size_t n, off_t at) {
    return fail() ? -1 : FileIo::pwrite(fd, buf, n, at);
}
int FailingIo::fstat(int fd, struct stat *st) { return fail() ? -1 : FileIo::fstat(fd, st); }
int FailingIo::stat(const char *path, struct stat *st) {
    return fail() ? -1 : FileIo::stat(path, st);
}
int FailingIo::fsync(int fd) { return fail() ? -1 : FileIo::fsync(fd); }
int FailingIo::close(int fd) {
    // The descriptor is released whatever is reported, as close() does.
    const bool f = fail();
    const int r = FileIo::close(fd);
    return f ? (errno = EIO, -1) : r;
}
int FailingIo::rename(const char *from, const char *to, bool noReplace) {
    return fail() ? -1 : FileIo::rename(from, to, noReplace);
}
int FailingIo::unlink(const char *path) { return fail() ? -1 : FileIo::unlink(path); }

} // namespace fixtures
