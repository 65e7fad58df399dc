#include "CarsTreeView.h"

#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

TCarsTreeView::TCarsTreeView(QWidget *parent) : QTreeView(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
}

void TCarsTreeView::setModel(QAbstractItemModel *model) {
    if (QAbstractItemModel *old = this->model()) disconnect(old, nullptr, this, nullptr);
    order_.clear();
    QTreeView::setModel(model);
    if (model)
        // A reset clears the selection without telling anyone.
        connect(model, &QAbstractItemModel::modelReset, this, [this] { order_.clear(); });
}

void TCarsTreeView::setSelectionModel(QItemSelectionModel *selectionModel) {
    if (QItemSelectionModel *old = this->selectionModel()) disconnect(old, nullptr, this, nullptr);
    order_.clear();
    QTreeView::setSelectionModel(selectionModel);
    if (selectionModel)
        connect(selectionModel, &QItemSelectionModel::selectionChanged, this,
                &TCarsTreeView::trackSelection);
}

void TCarsTreeView::trackSelection(const QItemSelection &selected,
                                   const QItemSelection &deselected) {
    for (const QModelIndex &i : deselected.indexes()) {
        if (i.column() != 0) continue;
        order_.removeAll(QPersistentModelIndex(i));
    }
    for (const QModelIndex &i : selected.indexes()) {
        if (i.column() != 0) continue;
        QPersistentModelIndex p(i);
        if (!order_.contains(p)) order_.append(p);
    }
}

QList<QModelIndex> TCarsTreeView::selectedInOrder() const {
    QList<QModelIndex> out;
    const QItemSelectionModel *sm = selectionModel();
    if (!sm) return out;
    for (const QPersistentModelIndex &p : order_)
        if (p.isValid() && sm->isSelected(p)) out.append(p);
    // Anything selected behind our back (not through selectionChanged) comes last, in tree order.
    for (const QModelIndex &i : sm->selectedIndexes())
        if (i.column() == 0 && !out.contains(i)) out.append(i);
    return out;
}

QItemSelectionModel::SelectionFlags TCarsTreeView::selectionCommand(const QModelIndex &index,
                                                                    const QEvent *event) const {
    using SM = QItemSelectionModel;
    // Shift is ignored on purpose: it never extends the selection to a range.
    Qt::KeyboardModifiers mods = QGuiApplication::keyboardModifiers();
    if (event) switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            mods = static_cast<const QInputEvent *>(event)->modifiers();
            break;
        default:
            break;
        }
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    if (!event) return index.isValid() ? SM::ClearAndSelect : SM::NoUpdate;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        if (!index.isValid()) return SM::NoUpdate; // a click beside the nodes keeps the selection
        const auto *me = static_cast<const QMouseEvent *>(event);
        if (me->button() == Qt::RightButton && selectionModel()->isSelected(index))
            return SM::NoUpdate;
        return ctrl ? SM::Toggle : SM::ClearAndSelect;
    }
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: // no rubber band, no drag selection
        return SM::NoUpdate;
    case QEvent::KeyPress: {
        const int key = static_cast<const QKeyEvent *>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Select)
            return ctrl ? SM::Toggle : SM::ClearAndSelect;
        // Ctrl with a movement key moves the focus only; Ctrl+Space then toggles.
        return ctrl ? SM::NoUpdate : SM::ClearAndSelect;
    }
    default:
        return index.isValid() ? SM::ClearAndSelect : SM::NoUpdate;
    }
}

void TCarsTreeView::focusInEvent(QFocusEvent *event) {
    // The item views make the first node current when they get the focus without one; that
    // would show the first node in the parameters panel before the operator picked anything.
    // The first movement key picks the first node instead.
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TCarsTreeView::keyPressEvent(QKeyEvent *event) {
    // Selecting every node at once has no order of selection; the tree does not offer it.
    if (event == QKeySequence::SelectAll) {
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}
