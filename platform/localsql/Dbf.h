// dBASE tables of our own: the scratch table the monitoring server exports and the result tables
// of a run. Tables are written as dBASE III (or the level 7 layout when the names or the number of
// fields need it) in Windows-1251, and read as dBASE III, IV and level 7 write them. Numbers
// never pass through the process locale: the point is always the decimal separator.
#pragma once

#include "platform/localsql/FileIo.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <string>
#include <string_view>

namespace kp::localsql {

// One field of a table. Types: 'C' character, 'N' numeric, 'F' float, 'D' date (length 8),
// 'L' logical (length 1). `decimals` counts the digits after the point of N and F fields.
struct DbfField {
    QString name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
    friend bool operator==(const DbfField &, const DbfField &) = default;
};

DbfField dbfCharacter(const QString &name, int length);
DbfField dbfNumeric(const QString &name, int length, int decimals = 0);
DbfField dbfFloat(const QString &name, int length, int decimals);
DbfField dbfDate(const QString &name);
DbfField dbfLogical(const QString &name);

// How SQL sees a field: character and date fields are TEXT, numeric fields without decimals
// INTEGER, numeric fields with decimals and float fields REAL, logical fields INTEGER (0/1).
enum class DbfColumnKind { Text, Integer, Real, Date, Logical };
DbfColumnKind columnKind(const DbfField &field);
const char *sqlTypeName(DbfColumnKind kind);

enum class DbfLayout {
    DBase3, // 32-byte field descriptors, names up to 10 characters, at most 255 fields
    Level7, // 48-byte field descriptors, names up to 31 characters, at most 1,024 fields
};

inline constexpr int kDbase3MaxFields = 255;
inline constexpr int kDbase3MaxNameLength = 10;
inline constexpr int kLevel7MaxFields = 1024;
inline constexpr int kLevel7MaxNameLength = 31;
inline constexpr int kMaxCharacterLength = 254;
inline constexpr int kMaxNumericLength = 20;

// The message of every failure: "Table '<path>': <cause>".
QString tableMessage(const QString &path, const QString &cause);

// Checks a new table's fields (names present, representable in Windows-1251, not repeated
// regardless of case, short enough; lengths and decimals valid) and returns the layout it gets:
// dBASE III when it has at most 255 fields and every name fits 10 characters, level 7 otherwise.
// Throws kp::EDatabaseError ("too many columns", "column name too long: X", ...).
DbfLayout layoutForNewTable(const QString &path, const QList<DbfField> &fields);

// Values of one record, in field order; missing trailing values are null. Null or an empty text
// writes blanks (read back as null). Character fields take text (numbers are written in their
// plain form with a point); numeric and float fields take integers, reals or numeric text with a
// point, written with the field's decimals; date fields take QDate or "YYYY-MM-DD"/"YYYYMMDD";
// logical fields take bool. A value that does not fit its field throws; nothing is cut.
using DbfRow = QList<QVariant>;

// One field's bytes, `field.length` of them at `out`, as encodeRecord writes them.
void encodeFieldValue(const QString &path, const DbfField &field, const QVariant &value, char *out);

// One record in the file's form: the deletion flag (a blank) and every field.
QByteArray encodeRecord(const QString &path, const QList<DbfField> &fields, const DbfRow &row);

enum class DbfWriteMode {
    Replace,   // an existing file is replaced
    CreateNew, // an existing file is an error ("table already exists"), also under a race
};

// Writes a whole table through a temporary file beside `path` that is synced and then renamed
// over it, so the path holds either the old file or the complete new one. Throws
// kp::EDatabaseError naming the path and the cause; the temporary file is removed on failure.
void writeDbfTable(const QString &path, const QList<DbfField> &fields, const QList<DbfRow> &rows,
                   DbfWriteMode mode = DbfWriteMode::Replace);

// A table read whole into memory and checked: every header field against the others and against
// the file size, before anything is trusted. Records past the record count (an append cut short)
// are ignored. Copies share the bytes.
class DbfTable {
public:
    DbfTable();
    // Throws kp::EDatabaseError: "no such table", or the damage found ("truncated header",
    // "record length 30 does not match the fields (41)", "the file is too short for its record
    // count 12", ...).
    static DbfTable read(const QString &path);
    // The same checks over bytes already in memory; `path` names the table in messages.
    static DbfTable fromBytes(const QByteArray &bytes, const QString &path);

    const QString &path() const;
    DbfLayout layout() const;
    const QList<DbfField> &fields() const;
    int fieldCount() const;
    // Case-insensitive (ASCII) lookup; -1 when there is no such field.
    int fieldIndex(const QString &name) const;
    qint64 recordCount() const;
    int headerLength() const;
    int recordLength() const;
    quint8 languageDriver() const;
    QDate lastUpdate() const;      // the header's modification date, invalid if unset
    FileIdentity identity() const; // of the file as read; size -1 for fromBytes
    bool isDeleted(qint64 record) const;

    // A field's value: null for blanks; QString, qlonglong, double, QDate or bool after the
    // field's kind. Throws kp::EDatabaseError for bad bytes in a numeric, date or logical field.
    QVariant value(qint64 record, int field) const;

    // The raw bytes of one field of one record.
    std::string_view rawField(qint64 record, int field) const;

    // A field decoded for SQL without building a QVariant. Text cells carry their bytes with the
    // trailing blanks cut (use appendUtf8 for the text); Date cells carry "YYYYMMDD".
    struct Cell {
        enum Kind { Null, Integer, Real, Text, Date, Bad } kind = Null;
        qint64 integer = 0;
        double real = 0;
        std::string_view raw;
    };
    Cell cell(qint64 record, int field) const;
    // Appends the UTF-8 form of bytes in the table's code page.
    void appendUtf8(std::string_view raw, std::string &out) const;
    QString decode(std::string_view raw) const;
    // The message for a Bad cell.
    QString badCellMessage(qint64 record, int field) const;

    // The identity of the file this table now stands for (after an append of our own).
    void setIdentity(const FileIdentity &id);
    // Records appended by this process through DbfAppender, added without reading the file again.
    void appendEncodedRecords(const QByteArray &records, qint64 count, const FileIdentity &id);

    struct Data;

private:
    std::shared_ptr<Data> d_;
};

// Appends records to an existing table. The records and an end mark are written first, past the
// current last record; only then the header's record count and date. A failure before the count
// is written leaves the old count (and the end mark is put back where the old rows end), so the
// table reads with the rows it had and the next append overwrites the unfinished bytes. Keeps
// the file open between appends.
class DbfAppender {
public:
    // Opens the table and checks its header and size. Throws kp::EDatabaseError.
    explicit DbfAppender(const QString &path);
    ~DbfAppender();
    DbfAppender(const DbfAppender &) = delete;
    DbfAppender &operator=(const DbfAppender &) = delete;

    const QString &path() const { return path_; }
    const QList<DbfField> &fields() const { return fields_; }
    qint64 recordCount() const { return count_; }
    // The file's identity after the last write (its modification time then unknown, see
    // FileIdentity::isOwnWriteOf) or after opening; size -1 after a failed write.
    FileIdentity identity() const { return identity_; }

    // Encodes every row first (a value that does not fit writes nothing), then writes them.
    void append(const QList<DbfRow> &rows);
    // Writes records already encoded with encodeRecord for these fields.
    void appendEncoded(const QByteArray &records, qint64 count);

private:
    void restoreEndMark(qint64 at);
    QString path_;
    int fd_ = -1;
    QList<DbfField> fields_;
    int headerLength_ = 0;
    int recordLength_ = 0;
    qint64 count_ = 0;
    FileIdentity identity_;
};

} // namespace kp::localsql
