#include "Dbf.h"

#include "platform/core/Exceptions.h"
#include "platform/core/Variants.h"

#include <QDateTime>
#include <QHash>
#include <QStringDecoder>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace kp::localsql {

namespace {

constexpr quint8 kHeaderEnd = 0x0D;
constexpr quint8 kFileEnd = 0x1A;
constexpr quint8 kWindows1251Driver = 0xC9;
constexpr int kMaxSqlColumns = 2000; // SQLite's own limit on the columns of a table

[[noreturn]] void fail(const QString &path, const QString &cause) {
    throw kp::EDatabaseError(tableMessage(path, cause));
}

quint16 le16(const uchar *p) { return static_cast<quint16>(p[0] | (p[1] << 8)); }
quint32 le32(const uchar *p) {
    return static_cast<quint32>(p[0]) | (static_cast<quint32>(p[1]) << 8) |
           (static_cast<quint32>(p[2]) << 16) | (static_cast<quint32>(p[3]) << 24);
}
void put16(char *p, quint32 v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(char *p, quint64 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

QString asciiUpper(const QString &s) {
    QString out = s;
    for (QChar &c : out)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
    return out;
}

// ---- code pages ---------------------------------------------------------------------------

// A single-byte code page: UTF-8 of each byte for reading, the byte of each character for
// writing. Built once from Qt's codec, so no table is typed in by hand.
struct CodePage {
    std::array<std::string, 256> utf8;
    QHash<char16_t, quint8> bytes;
};

const char *codecNameForDriver(quint8 driver) {
    switch (driver) {
    case 0x01:
        return "IBM437";
    case 0x02:
        return "IBM850";
    case 0x03:
    case 0x57:
    case 0x58:
    case 0x59:
        return "windows-1252";
    case 0x26:
    case 0x65:
        return "IBM866";
    case 0x64:
        return "IBM852";
    case 0xC8:
        return "windows-1250";
    case 0xCA:
        return "windows-1254";
    case 0xCB:
        return "windows-1253";
    case 0xCC:
        return "windows-1257";
    default:
        return "windows-1251"; // ours, and the system's code page when none is named
    }
}

std::unique_ptr<CodePage> buildCodePage(const char *name) {
    QStringDecoder decoder(name);
    if (!decoder.isValid()) return nullptr;
    auto cp = std::make_unique<CodePage>();
    for (int b = 0; b < 256; ++b) {
        if (b < 0x80) {
            cp->utf8[b] = std::string(1, static_cast<char>(b));
            cp->bytes.insert(static_cast<char16_t>(b), static_cast<quint8>(b));
            continue;
        }
        QStringDecoder one(name);
        const char byte = static_cast<char>(b);
        QString s = one(QByteArrayView(&byte, 1));
        if (one.hasError() || s.size() != 1) s = QString(QChar(0xFFFD));
        cp->utf8[b] = s.toStdString();
        if (s[0] != QChar(0xFFFD) && !cp->bytes.contains(s[0].unicode()))
            cp->bytes.insert(s[0].unicode(), static_cast<quint8>(b));
    }
    return cp;
}

const CodePage &codePage(quint8 driver) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<CodePage>> pages;
    std::lock_guard lock(mutex);
    std::string name = codecNameForDriver(driver);
    auto it = pages.find(name);
    if (it == pages.end()) {
        auto cp = buildCodePage(name.c_str());
        if (!cp) cp = buildCodePage("windows-1251");
        if (!cp) {
            // Without the codec everything above 0x7F becomes U+FFFD; ASCII still works.
            cp = std::make_unique<CodePage>();
            for (int b = 0; b < 256; ++b)
                cp->utf8[b] = b < 0x80 ? std::string(1, static_cast<char>(b)) : "\xEF\xBF\xBD";
            for (int b = 0; b < 0x80; ++b)
                cp->bytes.insert(static_cast<char16_t>(b), static_cast<quint8>(b));
        }
        it = pages.emplace(name, std::move(cp)).first;
    }
    return *it->second;
}

const CodePage &ourCodePage() { return codePage(kWindows1251Driver); }

// Encodes text in our code page; false when a character has no byte there.
bool encodeText(const QString &text, QByteArray &out) {
    const CodePage &cp = ourCodePage();
    out.clear();
    out.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() < 0x80) {
            out.append(static_cast<char>(c.unicode()));
            continue;
        }
        auto it = cp.bytes.constFind(c.unicode());
        if (it == cp.bytes.constEnd()) return false;
        out.append(static_cast<char>(*it));
    }
    return true;
}

// ---- numbers ------------------------------------------------------------------------------

std::string_view trimmed(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\0'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Parses a number as dBASE writers put it in N and F fields: an optional sign, digits with an
// optional point, an optional exponent. Blank is null; anything else is Bad.
DbfTable::Cell parseNumber(std::string_view raw, bool real) {
    DbfTable::Cell c;
    std::string_view s = trimmed(raw);
    if (s.empty()) return c;
    c.raw = s;
    size_t i = 0;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    size_t digits = 0;
    bool point = false, exponent = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        point = true;
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return c.kind = DbfTable::Cell::Bad, c;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        exponent = true;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i, ++expDigits;
        if (expDigits == 0) return c.kind = DbfTable::Cell::Bad, c;
    }
    if (i != s.size()) return c.kind = DbfTable::Cell::Bad, c;
    // from_chars takes no '+' sign.
    std::string_view body = s;
    if (body.front() == '+') body.remove_prefix(1);
    if (!real && !point && !exponent) {
        long long v = 0;
        auto r = std::from_chars(body.data(), body.data() + body.size(), v);
        if (r.ec == std::errc() && r.ptr == body.data() + body.size()) {
            c.kind = DbfTable::Cell::Integer;
            c.integer = v;
            return c;
        }
    }
    double v = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), v);
    if (r.ec != std::errc() || r.ptr != body.data() + body.size() || !std::isfinite(v))
        return c.kind = DbfTable::Cell::Bad, c;
    (void)negative;
    c.kind = DbfTable::Cell::Real;
    c.real = v;
    return c;
}

bool validDateDigits(std::string_view s, QDate *date) {
    if (s.size() != 8) return false;
    int v[3] = {0, 0, 0};
    const int widths[3] = {4, 2, 2};
    size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < widths[k]; ++j, ++pos) {
            if (s[pos] < '0' || s[pos] > '9') return false;
            v[k] = v[k] * 10 + (s[pos] - '0');
        }
    }
    QDate d(v[0], v[1], v[2]);
    if (!d.isValid()) return false;
    if (date) *date = d;
    return true;
}

// Plain form of a real for a character field: the shortest text that reads back the same.
std::string realText(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// ---- header -------------------------------------------------------------------------------

struct Header {
    DbfLayout layout = DbfLayout::DBase3;
    quint8 driver = 0;
    QDate date;
    qint64 count = 0;
    int headerLength = 0;
    int recordLength = 0;
    QList<DbfField> fields;
    QList<int> offsets;
};

int descriptorSize(DbfLayout layout) { return layout == DbfLayout::Level7 ? 48 : 32; }
int descriptorStart(DbfLayout layout) { return layout == DbfLayout::Level7 ? 68 : 32; }

QString fieldProblem(const DbfField &f) {
    switch (f.type) {
    case 'C':
        if (f.length < 1)
            return QStringLiteral("bad length %1 of character field %2").arg(f.length).arg(f.name);
        return {};
    case 'N':
    case 'F':
        if (f.length < 1 || f.decimals < 0 || (f.decimals > 0 && f.decimals >= f.length))
            return QStringLiteral("bad length %1 or decimals %2 of numeric field %3")
                .arg(f.length)
                .arg(f.decimals)
                .arg(f.name);
        return {};
    case 'D':
        if (f.length != 8)
            return QStringLiteral("bad length %1 of date field %2").arg(f.length).arg(f.name);
        return {};
    case 'L':
        if (f.length != 1)
            return QStringLiteral("bad length %1 of logical field %2").arg(f.length).arg(f.name);
        return {};
    default:
        return QStringLiteral("unsupported type '%1' of field %2")
            .arg(QChar::fromLatin1(f.type))
            .arg(f.name);
    }
}

// Reads and checks the header from the first `available` bytes of a file of `fileSize` bytes.
// Needs at least the fixed part; returns the header length it needs in *need when more is
// required (the appender reads the header in two steps).
bool parseHeader(const uchar *p, qint64 available, qint64 fileSize, const QString &path, Header &h,
                 qint64 *need) {
    if (fileSize < 32 || available < 32)
        fail(path, QStringLiteral("truncated header (%1 bytes)").arg(fileSize));
    const quint8 version = p[0];
    switch (version & 0x07) {
    case 3:
        h.layout = DbfLayout::DBase3;
        break;
    case 4:
        h.layout = DbfLayout::Level7;
        break;
    default:
        fail(path, QStringLiteral("not a dBASE table (version byte 0x%1)")
                       .arg(version, 2, 16, QLatin1Char('0')));
    }
    const int start = descriptorStart(h.layout);
    const int dsize = descriptorSize(h.layout);
    if (fileSize < start + 1)
        fail(path, QStringLiteral("truncated header (%1 bytes)").arg(fileSize));
    if (p[15] != 0) fail(path, QStringLiteral("the table is encrypted"));
    h.date = QDate(1900 + p[1], p[2], p[3]);
    h.count = le32(p + 4);
    h.headerLength = le16(p + 8);
    h.recordLength = le16(p + 10);
    h.driver = p[29];
    if (h.headerLength < start + 1)
        fail(path, QStringLiteral("damaged header: header length %1").arg(h.headerLength));
    if (h.headerLength > fileSize)
        fail(path,
             QStringLiteral("truncated header (%1 bytes of %2)").arg(fileSize).arg(h.headerLength));
    if (available < h.headerLength) {
        *need = h.headerLength;
        return false;
    }
    const CodePage &cp = codePage(h.driver);
    int pos = start;
    int offset = 1;
    QHash<QString, int> seen;
    while (true) {
        if (pos >= h.headerLength)
            fail(path, QStringLiteral("damaged header: the field list has no end mark"));
        if (p[pos] == kHeaderEnd) break;
        if (pos + dsize > h.headerLength)
            fail(path, QStringLiteral("damaged header: the field list has no end mark"));
        const int nameBytes = h.layout == DbfLayout::Level7 ? 32 : 11;
        const uchar *d = p + pos;
        int n = 0;
        while (n < nameBytes && d[n] != 0)
            ++n;
        while (n > 0 && d[n - 1] == ' ')
            --n;
        std::string utf8;
        for (int k = 0; k < n; ++k)
            utf8 += cp.utf8[d[k]];
        DbfField f;
        f.name = QString::fromStdString(utf8);
        if (h.layout == DbfLayout::Level7) {
            f.type = static_cast<char>(d[32]);
            f.length = d[33];
            f.decimals = d[34];
        } else {
            f.type = static_cast<char>(d[11]);
            f.length = d[16];
            f.decimals = d[17];
        }
        if (f.type == 'C') f.decimals = 0; // some writers leave flags there
        if (f.name.isEmpty())
            fail(path,
                 QStringLiteral("damaged header: field %1 has no name").arg(h.fields.size() + 1));
        QString problem = fieldProblem(f);
        if (!problem.isEmpty()) fail(path, QStringLiteral("damaged header: ") + problem);
        QString key = asciiUpper(f.name);
        if (seen.contains(key)) fail(path, QStringLiteral("repeated column name %1").arg(f.name));
        seen.insert(key, 1);
        if (h.fields.size() >= kMaxSqlColumns)
            fail(path, QStringLiteral("too many columns (more than %1)").arg(kMaxSqlColumns));
        h.fields.append(f);
        h.offsets.append(offset);
        offset += f.length;
        pos += dsize;
    }
    if (h.fields.isEmpty()) fail(path, QStringLiteral("damaged header: the table has no fields"));
    if (h.recordLength != offset)
        fail(path, QStringLiteral("record length %1 does not match the fields (%2)")
                       .arg(h.recordLength)
                       .arg(offset));
    const qint64 needed = qint64(h.headerLength) + h.count * qint64(h.recordLength);
    if (fileSize < needed)
        fail(path, QStringLiteral("the file is too short for its record count %1 (%2 bytes, %3 "
                                  "needed)")
                       .arg(h.count)
                       .arg(fileSize)
                       .arg(needed));
    return true;
}

// The date of the header's last update. Asking for the local date reads the time zone each time;
// an append happens tens of thousands of times a run, so the date is kept until its day ends.
QDate today() {
    thread_local QDate date;
    thread_local qint64 validUntil = 0; // seconds since the epoch
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (!date.isValid() || now >= validUntil || now < validUntil - 2 * 86400) {
        const QDateTime local = QDateTime::currentDateTime();
        date = local.date();
        validUntil = date.addDays(1).startOfDay().toSecsSinceEpoch();
    }
    return date;
}

QByteArray buildHeader(DbfLayout layout, const QList<DbfField> &fields, qint64 count,
                       int recordLength) {
    const int start = descriptorStart(layout);
    const int dsize = descriptorSize(layout);
    const int headerLength = start + dsize * int(fields.size()) + 1;
    QByteArray h(headerLength, '\0');
    char *p = h.data();
    const QDate today = kp::localsql::today();
    p[0] = layout == DbfLayout::Level7 ? 0x04 : 0x03;
    p[1] = static_cast<char>(today.year() - 1900);
    p[2] = static_cast<char>(today.month());
    p[3] = static_cast<char>(today.day());
    put32(p + 4, static_cast<quint64>(count));
    put16(p + 8, static_cast<quint32>(headerLength));
    put16(p + 10, static_cast<quint32>(recordLength));
    p[29] = static_cast<char>(kWindows1251Driver);
    int pos = start;
    for (const DbfField &f : fields) {
        QByteArray name;
        encodeText(f.name, name);
        memcpy(p + pos, name.constData(), static_cast<size_t>(name.size()));
        if (layout == DbfLayout::Level7) {
            p[pos + 32] = f.type;
            p[pos + 33] = static_cast<char>(f.length);
            p[pos + 34] = static_cast<char>(f.decimals);
        } else {
            p[pos + 11] = f.type;
            p[pos + 16] = static_cast<char>(f.length);
            p[pos + 17] = static_cast<char>(f.decimals);
        }
        pos += dsize;
    }
    p[pos] = static_cast<char>(kHeaderEnd);
    return h;
}

int recordLengthOf(const QList<DbfField> &fields) {
    int n = 1;
    for (const DbfField &f : fields)
        n += f.length;
    return n;
}

// ---- I/O ----------------------------------------------------------------------------------

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) fileIo().close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

bool writeAll(int fd, const char *data, qint64 size, qint64 offset) {
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<qint64>(size, 1 << 20));
        ssize_t n = fileIo().pwrite(fd, data, chunk, static_cast<off_t>(offset));
        if (n < 0) return false;
        if (n == 0) return errno = EIO, false;
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool readAll(int fd, char *data, qint64 size, qint64 offset, qint64 *got) {
    *got = 0;
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<qint64>(size, 1 << 24));
        ssize_t n = fileIo().pread(fd, data, chunk, static_cast<off_t>(offset));
        if (n < 0) return false;
        if (n == 0) return true; // the file got shorter
        data += n;
        size -= n;
        offset += n;
        *got += n;
    }
    return true;
}

} // namespace

// ---- fields -------------------------------------------------------------------------------

DbfField dbfCharacter(const QString &name, int length) { return {name, 'C', length, 0}; }
DbfField dbfNumeric(const QString &name, int length, int decimals) {
    return {name, 'N', length, decimals};
}
DbfField dbfFloat(const QString &name, int length, int decimals) {
    return {name, 'F', length, decimals};
}
DbfField dbfDate(const QString &name) { return {name, 'D', 8, 0}; }
DbfField dbfLogical(const QString &name) { return {name, 'L', 1, 0}; }

DbfColumnKind columnKind(const DbfField &field) {
    switch (field.type) {
    case 'N':
        return field.decimals == 0 ? DbfColumnKind::Integer : DbfColumnKind::Real;
    case 'F':
        return DbfColumnKind::Real;
    case 'D':
        return DbfColumnKind::Date;
    case 'L':
        return DbfColumnKind::Logical;
    default:
        return DbfColumnKind::Text;
    }
}

const char *sqlTypeName(DbfColumnKind kind) {
    switch (kind) {
    case DbfColumnKind::Integer:
    case DbfColumnKind::Logical:
        return "INTEGER";
    case DbfColumnKind::Real:
        return "REAL";
    default:
        return "TEXT";
    }
}

QString tableMessage(const QString &path, const QString &cause) {
    return QStringLiteral("Table '%1': %2").arg(path, cause);
}

DbfLayout layoutForNewTable(const QString &path, const QList<DbfField> &fields) {
    if (fields.isEmpty()) fail(path, QStringLiteral("a table needs at least one column"));
    if (fields.size() > kLevel7MaxFields)
        fail(path, QStringLiteral("too many columns (%1, at most %2)")
                       .arg(fields.size())
                       .arg(kLevel7MaxFields));
    bool longNames = false;
    QHash<QString, int> seen;
    for (const DbfField &f : fields) {
        if (f.name.isEmpty()) fail(path, QStringLiteral("a column has no name"));
        QByteArray bytes;
        if (!encodeText(f.name, bytes) || bytes.contains('\0') || bytes.contains(' '))
            fail(path, QStringLiteral("invalid column name %1").arg(f.name));
        if (bytes.size() > kLevel7MaxNameLength)
            fail(path, QStringLiteral("column name too long: %1 (%2 characters, at most %3)")
                           .arg(f.name)
                           .arg(bytes.size())
                           .arg(kLevel7MaxNameLength));
        if (bytes.size() > kDbase3MaxNameLength) longNames = true;
        QString key = asciiUpper(f.name);
        if (seen.contains(key)) fail(path, QStringLiteral("repeated column name %1").arg(f.name));
        seen.insert(key, 1);
        QString problem = fieldProblem(f);
        if (!problem.isEmpty()) fail(path, problem);
        if (f.type == 'C' && f.length > kMaxCharacterLength)
            fail(path, QStringLiteral("column %1: character length %2 is more than %3")
                           .arg(f.name)
                           .arg(f.length)
                           .arg(kMaxCharacterLength));
        if ((f.type == 'N' || f.type == 'F') && f.length > kMaxNumericLength)
            fail(path, QStringLiteral("column %1: numeric length %2 is more than %3")
                           .arg(f.name)
                           .arg(f.length)
                           .arg(kMaxNumericLength));
    }
    if (recordLengthOf(fields) > 0xFFFF)
        fail(path, QStringLiteral("a record of %1 bytes is longer than 65535")
                       .arg(recordLengthOf(fields)));
    if (!longNames && fields.size() <= kDbase3MaxFields) return DbfLayout::DBase3;
    return DbfLayout::Level7;
}

// ---- records ------------------------------------------------------------------------------

namespace {

void encodeField(const QString &path, const DbfField &f, const QVariant &v, char *out) {
    auto tooLong = [&](qint64 got) {
        fail(path, QStringLiteral("column %1: value too long (%2 characters, at most %3)")
                       .arg(f.name)
                       .arg(got)
                       .arg(f.length));
    };
    const bool isNull = !v.isValid() || v.isNull();
    memset(out, ' ', static_cast<size_t>(f.length));
    switch (f.type) {
    case 'C': {
        if (isNull) return;
        QString text;
        if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
            text = QString::fromStdString(realText(v.toDouble()));
        else if (v.typeId() == QMetaType::Bool)
            text = v.toBool() ? QStringLiteral("T") : QStringLiteral("F");
        else if (v.typeId() == QMetaType::QDate)
            text = v.toDate().toString(QStringLiteral("yyyyMMdd"));
        else
            text = v.toString();
        QByteArray bytes;
        if (!encodeText(text, bytes))
            fail(path, QStringLiteral("column %1: the text has characters that cannot be stored")
                           .arg(f.name));
        if (bytes.size() > f.length) tooLong(bytes.size());
        memcpy(out, bytes.constData(), static_cast<size_t>(bytes.size()));
        return;
    }
    case 'N':
    case 'F': {
        if (isNull) return;
        bool integral = false;
        long long iv = 0;
        double dv = 0;
        if (kp::isIntegerVariant(v)) {
            bool ok = false;
            iv = v.toLongLong(&ok);
            if (!ok) fail(path, QStringLiteral("column %1: not a number").arg(f.name));
            integral = true;
        } else if (kp::isNumberVariant(v)) {
            dv = v.toDouble();
        } else {
            const QString text = v.toString().trimmed();
            if (text.isEmpty()) return;
            const std::string s = text.toStdString();
            DbfTable::Cell c = parseNumber(s, false);
            if (c.kind == DbfTable::Cell::Integer)
                integral = true, iv = c.integer;
            else if (c.kind == DbfTable::Cell::Real)
                dv = c.real;
            else
                fail(path, QStringLiteral("column %1: not a number: '%2'").arg(f.name, text));
        }
        if (!integral && !std::isfinite(dv))
            fail(path, QStringLiteral("column %1: not a finite number").arg(f.name));
        char buf[400];
        char *end;
        if (integral) {
            end = std::to_chars(buf, buf + 32, iv).ptr;
            if (f.decimals > 0) {
                *end++ = '.';
                memset(end, '0', static_cast<size_t>(f.decimals));
                end += f.decimals;
            }
        } else {
            end =
                std::to_chars(buf, buf + sizeof buf, dv, std::chars_format::fixed, f.decimals).ptr;
        }
        const qint64 n = end - buf;
        if (n > f.length)
            fail(path, QStringLiteral("column %1: %2 does not fit %3 characters")
                           .arg(f.name, QString::fromLatin1(buf, n))
                           .arg(f.length));
        memcpy(out + (f.length - n), buf, static_cast<size_t>(n));
        return;
    }
    case 'D': {
        if (isNull) return;
        QDate d;
        if (v.typeId() == QMetaType::QDate || v.typeId() == QMetaType::QDateTime) {
            d = v.toDate();
        } else {
            QString t = v.toString().trimmed();
            if (t.isEmpty()) return;
            t.remove(u'-');
            std::string s = t.toStdString();
            validDateDigits(s, &d);
        }
        if (!d.isValid() || d.year() < 0 || d.year() > 9999)
            fail(path, QStringLiteral("column %1: not a date: '%2'").arg(f.name, v.toString()));
        const std::string s = QStringLiteral("%1%2%3")
                                  .arg(d.year(), 4, 10, QLatin1Char('0'))
                                  .arg(d.month(), 2, 10, QLatin1Char('0'))
                                  .arg(d.day(), 2, 10, QLatin1Char('0'))
                                  .toStdString();
        memcpy(out, s.data(), 8);
        return;
    }
    case 'L': {
        if (isNull) return void(out[0] = '?');
        if (v.typeId() == QMetaType::Bool || kp::isNumberVariant(v))
            return void(out[0] = v.toBool() ? 'T' : 'F');
        const QString t = v.toString().trimmed().toUpper();
        if (t.isEmpty()) return void(out[0] = '?');
        if (t == u"T" || t == u"Y" || t == u"TRUE" || t == u"1") return void(out[0] = 'T');
        if (t == u"F" || t == u"N" || t == u"FALSE" || t == u"0") return void(out[0] = 'F');
        fail(path, QStringLiteral("column %1: not a logical value: '%2'").arg(f.name, t));
    }
    default:
        fail(path, QStringLiteral("unsupported type of column %1").arg(f.name));
    }
}

} // namespace

void encodeFieldValue(const QString &path, const DbfField &field, const QVariant &value,
                      char *out) {
    encodeField(path, field, value, out);
}

QByteArray encodeRecord(const QString &path, const QList<DbfField> &fields, const DbfRow &row) {
    if (row.size() > fields.size())
        fail(path, QStringLiteral("%1 values for %2 columns").arg(row.size()).arg(fields.size()));
    QByteArray rec(recordLengthOf(fields), ' ');
    char *p = rec.data() + 1;
    for (int i = 0; i < fields.size(); ++i) {
        encodeField(path, fields[i], i < row.size() ? row[i] : QVariant(), p);
        p += fields[i].length;
    }
    return rec;
}

void writeDbfTable(const QString &path, const QList<DbfField> &fields, const QList<DbfRow> &rows,
                   DbfWriteMode mode) {
    const DbfLayout layout = layoutForNewTable(path, fields);
    const int recordLength = recordLengthOf(fields);
    if (rows.size() > std::numeric_limits<quint32>::max())
        fail(path, QStringLiteral("too many records"));
    QByteArray bytes = buildHeader(layout, fields, rows.size(), recordLength);
    bytes.reserve(bytes.size() + qsizetype(rows.size()) * recordLength + 1);
    for (const DbfRow &row : rows)
        bytes += encodeRecord(path, fields, row);
    bytes.append(static_cast<char>(kFileEnd));

    const QByteArray target = nativePath(path);
    static std::atomic<unsigned> counter{0};
    QByteArray temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
        temp = target + ".tmp~" + QByteArray::number(::getpid()) + "-" +
               QByteArray::number(counter.fetch_add(1));
        out.fd = fileIo().open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (out.fd < 0 && errno != EEXIST) break;
    }
    if (out.fd < 0) fail(path, QStringLiteral("cannot create the file: %1").arg(errnoText(errno)));
    auto discard = [&](const QString &what) {
        const int err = errno;
        if (out.fd >= 0) fileIo().close(out.release());
        fileIo().unlink(temp.constData());
        fail(path, QStringLiteral("%1: %2").arg(what, errnoText(err)));
    };
    if (!writeAll(out.fd, bytes.constData(), bytes.size(), 0)) discard("cannot write the file");
    if (fileIo().fsync(out.fd) != 0) discard("cannot write the file");
    if (fileIo().close(out.release()) != 0) discard("cannot write the file");
    if (fileIo().rename(temp.constData(), target.constData(), mode == DbfWriteMode::CreateNew) !=
        0) {
        if (errno == EEXIST && mode == DbfWriteMode::CreateNew) {
            fileIo().unlink(temp.constData());
            fail(path, QStringLiteral("table already exists"));
        }
        discard("cannot replace the file");
    }
}

// ---- reading ------------------------------------------------------------------------------

struct DbfTable::Data {
    QString path;
    QByteArray bytes;
    Header header;
    const CodePage *codePage = nullptr;
    FileIdentity identity;
    QHash<QString, int> index; // ASCII upper-case name -> field
};

DbfTable::DbfTable() : d_(std::make_shared<Data>()) {}

DbfTable DbfTable::fromBytes(const QByteArray &bytes, const QString &path) {
    DbfTable t;
    t.d_->path = path;
    t.d_->bytes = bytes;
    qint64 need = 0;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    parseHeader(p, bytes.size(), bytes.size(), path, t.d_->header, &need);
    t.d_->codePage = &codePage(t.d_->header.driver);
    for (int i = 0; i < t.d_->header.fields.size(); ++i)
        t.d_->index.insert(asciiUpper(t.d_->header.fields[i].name), i);
    return t;
}

DbfTable DbfTable::read(const QString &path) {
    const QByteArray name = nativePath(path);
    Fd in;
    in.fd = fileIo().open(name.constData(), O_RDONLY, 0);
    if (in.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) fail(path, QStringLiteral("no such table"));
        fail(path, QStringLiteral("cannot open the file: %1").arg(errnoText(errno)));
    }
    struct stat st;
    if (fileIo().fstat(in.fd, &st) != 0)
        fail(path, QStringLiteral("cannot read the file: %1").arg(errnoText(errno)));
    if (!S_ISREG(st.st_mode)) fail(path, QStringLiteral("not a file"));
    if (st.st_size > std::numeric_limits<qsizetype>::max() / 2 || st.st_size > (qint64(1) << 34))
        fail(path, QStringLiteral("the file is too large"));
    QByteArray bytes(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
    qint64 got = 0;
    if (!readAll(in.fd, bytes.data(), bytes.size(), 0, &got))
        fail(path, QStringLiteral("cannot read the file: %1").arg(errnoText(errno)));
    bytes.truncate(static_cast<qsizetype>(got));
    DbfTable t = fromBytes(bytes, path);
    st.st_size = got;
    t.d_->identity = identityOf(st);
    return t;
}

const QString &DbfTable::path() const { return d_->path; }
DbfLayout DbfTable::layout() const { return d_->header.layout; }
const QList<DbfField> &DbfTable::fields() const { return d_->header.fields; }
int DbfTable::fieldCount() const { return int(d_->header.fields.size()); }
int DbfTable::fieldIndex(const QString &name) const {
    return d_->index.value(asciiUpper(name), -1);
}
qint64 DbfTable::recordCount() const { return d_->header.count; }
int DbfTable::headerLength() const { return d_->header.headerLength; }
int DbfTable::recordLength() const { return d_->header.recordLength; }
quint8 DbfTable::languageDriver() const { return d_->header.driver; }
QDate DbfTable::lastUpdate() const { return d_->header.date; }
FileIdentity DbfTable::identity() const { return d_->identity; }

bool DbfTable::isDeleted(qint64 record) const {
    const qint64 at = d_->header.headerLength + record * d_->header.recordLength;
    return d_->bytes.constData()[at] == '*';
}

std::string_view DbfTable::rawField(qint64 record, int field) const {
    const Header &h = d_->header;
    const qint64 at = h.headerLength + record * h.recordLength + h.offsets[field];
    return std::string_view(d_->bytes.constData() + at,
                            static_cast<size_t>(h.fields[field].length));
}

DbfTable::Cell DbfTable::cell(qint64 record, int field) const {
    const DbfField &f = d_->header.fields[field];
    const std::string_view raw = rawField(record, field);
    Cell c;
    switch (f.type) {
    case 'N':
        return parseNumber(raw, f.decimals > 0);
    case 'F':
        return parseNumber(raw, true);
    case 'D': {
        std::string_view s = trimmed(raw);
        if (s.empty() || s.find_first_not_of('0') == std::string_view::npos) return c;
        c.raw = s;
        c.kind = validDateDigits(s, nullptr) ? Cell::Date : Cell::Bad;
        return c;
    }
    case 'L': {
        const char b = raw[0];
        if (b == 'T' || b == 't' || b == 'Y' || b == 'y')
            c.kind = Cell::Integer, c.integer = 1;
        else if (b == 'F' || b == 'f' || b == 'N' || b == 'n')
            c.kind = Cell::Integer;
        else if (b != '?' && b != ' ' && b != '\0')
            c.kind = Cell::Bad, c.raw = raw;
        return c;
    }
    default: {
        std::string_view s = raw;
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
            s.remove_suffix(1);
        if (s.empty()) return c;
        c.kind = Cell::Text;
        c.raw = s;
        return c;
    }
    }
}

void DbfTable::appendUtf8(std::string_view raw, std::string &out) const {
    const CodePage &cp = *d_->codePage;
    for (char ch : raw) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else
            out += cp.utf8[b];
    }
}

QString DbfTable::decode(std::string_view raw) const {
    std::string s;
    s.reserve(raw.size() * 2);
    appendUtf8(raw, s);
    return QString::fromStdString(s);
}

QString DbfTable::badCellMessage(qint64 record, int field) const {
    const DbfField &f = d_->header.fields[field];
    const char *kind = f.type == 'D' ? "date" : f.type == 'L' ? "logical" : "numeric";
    return tableMessage(d_->path, QStringLiteral("bad bytes in the %1 field %2 of record %3: '%4'")
                                      .arg(QLatin1String(kind), f.name)
                                      .arg(record + 1)
                                      .arg(decode(rawField(record, field)).trimmed()));
}

QVariant DbfTable::value(qint64 record, int field) const {
    const Cell c = cell(record, field);
    switch (c.kind) {
    case Cell::Null:
        return QVariant();
    case Cell::Integer:
        if (d_->header.fields[field].type == 'L') return QVariant(c.integer != 0);
        return QVariant(qlonglong(c.integer));
    case Cell::Real:
        return QVariant(c.real);
    case Cell::Text:
        return QVariant(decode(c.raw));
    case Cell::Date: {
        QDate d;
        validDateDigits(c.raw, &d);
        return QVariant(d);
    }
    case Cell::Bad:
        break;
    }
    throw kp::EDatabaseError(badCellMessage(record, field));
}

void DbfTable::setIdentity(const FileIdentity &id) { d_->identity = id; }

void DbfTable::appendEncodedRecords(const QByteArray &records, qint64 count,
                                    const FileIdentity &id) {
    // Copies made before keep what they had; the bytes themselves are shared until one side
    // changes them, so a table nobody else holds grows in place.
    if (d_.use_count() > 1) d_ = std::make_shared<Data>(*d_);
    Header &h = d_->header;
    const qint64 end = h.headerLength + h.count * h.recordLength;
    d_->bytes.truncate(static_cast<qsizetype>(end));
    d_->bytes += records;
    h.count += count;
    d_->identity = id;
}

// ---- appending ----------------------------------------------------------------------------

DbfAppender::DbfAppender(const QString &path) : path_(path) {
    const QByteArray name = nativePath(path);
    Fd f;
    f.fd = fileIo().open(name.constData(), O_RDWR, 0);
    if (f.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) fail(path, QStringLiteral("no such table"));
        fail(path, QStringLiteral("cannot open the file: %1").arg(errnoText(errno)));
    }
    struct stat st;
    if (fileIo().fstat(f.fd, &st) != 0)
        fail(path, QStringLiteral("cannot read the file: %1").arg(errnoText(errno)));
    QByteArray head(static_cast<qsizetype>(std::min<qint64>(st.st_size, 68)), Qt::Uninitialized);
    qint64 got = 0;
    if (!readAll(f.fd, head.data(), head.size(), 0, &got))
        fail(path, QStringLiteral("cannot read the file: %1").arg(errnoText(errno)));
    Header h;
    qint64 need = 0;
    const qint64 size = st.st_size;
    if (!parseHeader(reinterpret_cast<const uchar *>(head.constData()), got, size, path, h,
                     &need)) {
        head.resize(static_cast<qsizetype>(need));
        if (!readAll(f.fd, head.data(), need, 0, &got))
            fail(path, QStringLiteral("cannot read the file: %1").arg(errnoText(errno)));
        h = Header();
        if (!parseHeader(reinterpret_cast<const uchar *>(head.constData()), got, size, path, h,
                         &need))
            fail(path, QStringLiteral("truncated header"));
    }
    fields_ = h.fields;
    headerLength_ = h.headerLength;
    recordLength_ = h.recordLength;
    count_ = h.count;
    identity_ = identityOf(st);
    fd_ = f.release();
}

// Readers that stop at the end mark instead of trusting the count would otherwise see the
// unfinished record; put the mark back where the old rows end, if the file lets us.
void DbfAppender::restoreEndMark(qint64 at) {
    const char end = static_cast<char>(kFileEnd);
    writeAll(fd_, &end, 1, at);
}

DbfAppender::~DbfAppender() {
    if (fd_ >= 0) fileIo().close(fd_);
}

void DbfAppender::append(const QList<DbfRow> &rows) {
    QByteArray records;
    for (const DbfRow &row : rows)
        records += encodeRecord(path_, fields_, row);
    appendEncoded(records, rows.size());
}

void DbfAppender::appendEncoded(const QByteArray &records, qint64 count) {
    if (count <= 0) return;
    if (records.size() != count * recordLength_)
        fail(path_, QStringLiteral("record length does not match the fields"));
    if (count_ + count > std::numeric_limits<quint32>::max())
        fail(path_, QStringLiteral("too many records"));
    // Any failure below leaves the header as it was; the identity is unknown from then on, so
    // whoever caches the table reads it again.
    const FileIdentity written = identity_;
    identity_ = FileIdentity{};
    // The records and an end mark after them first, then the count and the date. Until the
    // count is written, a reader that trusts it sees the old rows.
    QByteArray tail = records;
    tail.append(static_cast<char>(kFileEnd));
    const qint64 at = headerLength_ + count_ * recordLength_;
    if (!writeAll(fd_, tail.constData(), tail.size(), at)) {
        const int err = errno;
        restoreEndMark(at);
        fail(path_, QStringLiteral("cannot append the record: %1").arg(errnoText(err)));
    }
    char head[7];
    const QDate today = kp::localsql::today();
    head[0] = static_cast<char>(today.year() - 1900);
    head[1] = static_cast<char>(today.month());
    head[2] = static_cast<char>(today.day());
    put32(head + 3, static_cast<quint64>(count_ + count));
    if (!writeAll(fd_, head, sizeof head, 1)) {
        const int err = errno;
        restoreEndMark(at);
        fail(path_, QStringLiteral("cannot update the record count: %1").arg(errnoText(err)));
    }
    count_ += count;
    identity_ = written;
    identity_.size = std::max<std::int64_t>(written.size, at + tail.size());
    identity_.mtimeNs = FileIdentity::kUnknownTime;
}

} // namespace kp::localsql
