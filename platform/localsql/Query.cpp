#include "Query.h"

#include "platform/core/Exceptions.h"

namespace kp::localsql {

void Query::setSql(const QString &sql) {
    close();
    sql_ = sql;
}

void Query::clear() { setSql(QString()); }

void Query::execSql() {
    close();
    Engine::forThisThread().run(sql_, nullptr, false);
}

void Query::open() {
    close();
    auto rows = std::make_shared<ResultSet>();
    Engine::forThisThread().run(sql_, rows.get(), true);
    rows_ = std::move(rows);
    row_ = 0;
}

void Query::close() {
    rows_.reset();
    row_ = 0;
}

bool Query::eof() const { return !rows_ || row_ >= rows_->rows.size(); }

void Query::next() {
    if (!eof()) ++row_;
}

void Query::first() { row_ = 0; }

qint64 Query::recordCount() const { return rows_ ? rows_->rows.size() : 0; }

QStringList Query::fieldNames() const { return rows_ ? rows_->names : QStringList(); }

int Query::fieldIndex(const QString &name) const {
    if (!rows_) return -1;
    for (int i = 0; i < rows_->names.size(); ++i)
        if (rows_->names[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void Query::requireRow() const {
    if (!rows_) throw kp::EDatabaseError(QStringLiteral("The query is not open"));
    if (eof()) throw kp::EDatabaseError(QStringLiteral("The query has no current row"));
}

QVariant Query::fieldByName(const QString &name) const {
    requireRow();
    const int i = fieldIndex(name);
    if (i < 0) throw kp::EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
    return rows_->rows[row_][i];
}

QVariant Query::value(int column) const {
    requireRow();
    if (column < 0 || column >= rows_->names.size())
        throw kp::EDatabaseError(QStringLiteral("No column %1").arg(column));
    return rows_->rows[row_][column];
}

void setRangeIndexEnabled(bool enabled) { Engine::forThisThread().setRangeIndexEnabled(enabled); }

} // namespace kp::localsql
