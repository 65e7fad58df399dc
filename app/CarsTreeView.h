// The fleet tree's view: several nodes can be selected, a plain click selects only the clicked
// node, Ctrl+click adds or removes a node, Shift never selects a range, and the view remembers
// the order in which the nodes were selected.
#pragma once

#include <QList>
#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QTreeView>

class TCarsTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit TCarsTreeView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    void setSelectionModel(QItemSelectionModel *selectionModel) override;

    // The selected nodes, first selected first.
    QList<QModelIndex> selectedInOrder() const;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void trackSelection(const QItemSelection &selected, const QItemSelection &deselected);

    QList<QPersistentModelIndex> order_;
};
