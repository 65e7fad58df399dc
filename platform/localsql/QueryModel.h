// The result grid's item model: the rows of an open Query, with the columns, their order and
// their headings set by the caller. Read-only. The rows are taken when the query is set, so the
// model keeps showing them until it is given another query or detached.
#pragma once

#include "platform/localsql/Query.h"

#include <QAbstractTableModel>
#include <QList>
#include <QLocale>

namespace kp::localsql {

class QueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field; // the result column shown (case-insensitive)
        QString title; // its heading
    };

    explicit QueryModel(QObject *parent = nullptr);

    // Shows the rows of the query (open, or an empty model when it is not).
    void setQuery(const Query &query);
    // No rows, as a grid without a data source.
    void detach();
    bool isAttached() const { return bool(rows_); }

    void setColumns(const QList<Column> &columns);
    void clearColumns() { setColumns({}); }
    const QList<Column> &columns() const { return columns_; }

    // Real numbers are shown with this locale's decimal separator (the system's by default).
    void setLocale(const QLocale &locale);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    // DisplayRole: the value as text (empty for null); EditRole: the value itself;
    // TextAlignmentRole: numbers to the right.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void mapColumns();
    std::shared_ptr<const ResultSet> rows_;
    QList<Column> columns_;
    QList<int> source_; // result column of each model column, -1 when missing
    QLocale locale_;
};

} // namespace kp::localsql
