#include "QueryModel.h"

#include "platform/core/Formats.h"

namespace kp::localsql {

QueryModel::QueryModel(QObject *parent) : QAbstractTableModel(parent), locale_(QLocale::system()) {}

void QueryModel::setQuery(const Query &query) {
    beginResetModel();
    rows_ = query.resultSet();
    mapColumns();
    endResetModel();
}

void QueryModel::detach() {
    beginResetModel();
    rows_.reset();
    mapColumns();
    endResetModel();
}

void QueryModel::setColumns(const QList<Column> &columns) {
    beginResetModel();
    columns_ = columns;
    mapColumns();
    endResetModel();
}

void QueryModel::setLocale(const QLocale &locale) {
    locale_ = locale;
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void QueryModel::mapColumns() {
    source_.clear();
    for (const Column &c : columns_) {
        int found = -1;
        if (rows_)
            for (int i = 0; i < rows_->names.size() && found < 0; ++i)
                if (rows_->names[i].compare(c.field, Qt::CaseInsensitive) == 0) found = i;
        source_.append(found);
    }
}

int QueryModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid() || !rows_) return 0;
    return int(rows_->rows.size());
}

int QueryModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant QueryModel::data(const QModelIndex &index, int role) const {
    if (!rows_ || !index.isValid() || index.row() >= rows_->rows.size() ||
        index.column() >= source_.size())
        return {};
    const int src = source_[index.column()];
    const QVariant v = src >= 0 ? rows_->rows[index.row()].value(src) : QVariant();
    const bool number = v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
                        v.typeId() == QMetaType::Double;
    switch (role) {
    case Qt::DisplayRole:
        if (!v.isValid()) return QString();
        if (v.typeId() == QMetaType::Double) return kp::floatToStr(v.toDouble(), locale_);
        return v.toString();
    case Qt::EditRole:
        return v;
    case Qt::TextAlignmentRole:
        return number ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    default:
        return {};
    }
}

QVariant QueryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < columns_.size() ? QVariant(columns_[section].title)
                                                         : QVariant();
    return QVariant();
}

Qt::ItemFlags QueryModel::flags(const QModelIndex &index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

} // namespace kp::localsql
