// A query in the manner of the old query component: set the statement text, execute it or open
// its result set, walk the rows and read fields by name. Every statement names its dBASE tables
// by their full path in single quotes; a path containing ' is written with it doubled. Each
// thread runs its statements on its own connection. Failures raise kp::EDatabaseError.
#pragma once

#include "platform/localsql/SqlEngine.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace kp::localsql {

class Query {
public:
    Query() = default;
    explicit Query(const QString &sql) : sql_(sql) {}

    // Replaces the statement text; an open result set is closed.
    void setSql(const QString &sql);
    const QString &sql() const { return sql_; }
    // Empties the statement text and closes the result set.
    void clear();

    // Runs a statement without a result set (CREATE TABLE, INSERT); rows of a SELECT are dropped.
    void execSql();
    // Runs a statement with a result set and reads it whole; the current row is the first.
    // A statement without result columns is refused before it runs.
    void open();
    bool isOpen() const { return bool(rows_); }
    void close();

    // The current row: eof() is true past the last row (and for a closed query or no rows).
    bool eof() const;
    void next();
    void first();
    qint64 recordCount() const;
    qint64 recNo() const { return row_; } // zero-based

    QStringList fieldNames() const;
    // Case-insensitive, the first column of that name; -1 when there is none.
    int fieldIndex(const QString &name) const;
    // The current row's value: null for SQL NULL, int when an integer fits 32 bits and
    // qlonglong otherwise, double for REAL, QString for TEXT. Throws when the query is not open,
    // there is no current row or no such field.
    QVariant fieldByName(const QString &name) const;
    QVariant value(int column) const;

    // The rows of the open result set; they stay valid after the query is closed or reused.
    std::shared_ptr<const ResultSet> resultSet() const { return rows_; }

private:
    void requireRow() const;
    QString sql_;
    std::shared_ptr<const ResultSet> rows_;
    qint64 row_ = 0;
};

// This thread's connection: range constraints on numeric columns are served from a sorted index
// unless disabled (for comparisons in the benchmark).
void setRangeIndexEnabled(bool enabled);

} // namespace kp::localsql
