#include "FleetTree.h"

#include "config/ConfigFiles.h"
#include "server/Kelvon_ocx.h"

#include <QHash>
#include <QStandardItemModel>

namespace kp::app {

QString defaultNodeText() { return QStringLiteral("По умолчанию"); }

VehicleItem::VehicleItem(const QString &text, TCarsParams record)
    : QStandardItem(text), record_(std::move(record)) {
    setEditable(false);
    setDragEnabled(false);
    setDropEnabled(false);
}

const TCarsParams *carRecord(const QStandardItem *item) {
    if (!item || item->type() != VehicleItem::Type) return nullptr;
    return &static_cast<const VehicleItem *>(item)->record();
}

const TCarsParams *carRecord(const QModelIndex &index) {
    if (!index.isValid()) return nullptr;
    const auto *model = qobject_cast<const QStandardItemModel *>(index.model());
    if (!model) return nullptr;
    return carRecord(model->itemFromIndex(index));
}

QString vehicleNodeText(std::int32_t device, const QString &model, const QString &number) {
    if (model.isEmpty()) {
        // At least five digits; a negative number keeps its sign in front of the zeros.
        const qint64 d = device;
        QString digits = QString::number(d < 0 ? -d : d).rightJustified(5, QLatin1Char('0'));
        return d < 0 ? QLatin1Char('-') + digits : digits;
    }
    if (number.isEmpty()) return model;
    return model + QStringLiteral(" - ") + number;
}

SelectionVehicles vehiclesOfSelection(const QList<QModelIndex> &selectedInOrder) {
    SelectionVehicles out;
    if (selectedInOrder.size() == 1 && !carRecord(selectedInOrder.first())) {
        out.wholeNode = true;
        const QModelIndex node = selectedInOrder.first();
        const QAbstractItemModel *m = node.model();
        for (int r = 0; r < m->rowCount(node); ++r) {
            const QModelIndex child = m->index(r, 0, node);
            if (const TCarsParams *rec = carRecord(child)) {
                out.vehicles.append(rec);
                continue;
            }
            for (int s = 0; s < m->rowCount(child); ++s)
                if (const TCarsParams *rec = carRecord(m->index(s, 0, child)))
                    out.vehicles.append(rec);
        }
        return out;
    }
    for (const QModelIndex &i : selectedInOrder)
        if (const TCarsParams *rec = carRecord(i)) out.vehicles.append(rec);
    return out;
}

struct FleetTreeFill::Files {
    kp::config::GroupsFile groups;
    kp::config::SubgroupsFile subgroups;
    kp::config::CarsFile cars;
};

FleetTreeFill::FleetTreeFill() : files_(std::make_unique<Files>()) {}
FleetTreeFill::~FleetTreeFill() = default;

namespace {
QStandardItem *folderNode(const QString &text) {
    auto *item = new QStandardItem(text);
    item->setEditable(false);
    item->setDragEnabled(false);
    item->setDropEnabled(false);
    return item;
}
} // namespace

QStringList FleetTreeFill::buildGroups(QStandardItemModel &model) {
    groupNodes_.clear();
    subgroupCounts_.clear();
    model.clear();
    model.appendRow(folderNode(defaultNodeText()));
    const QStringList groups = files_->groups.names();
    for (int g = 1; g <= groups.size(); ++g) {
        QStandardItem *node = folderNode(groups.at(g - 1));
        model.appendRow(node);
        groupNodes_.append(node);
        const QStringList subs = files_->subgroups.names(g);
        for (const QString &sub : subs)
            node->appendRow(folderNode(sub));
        subgroupCounts_.append(int(subs.size()));
    }
    return groups;
}

void FleetTreeFill::placeVehicles(QStandardItemModel &model, TKelvonAutomation &server) {
    QStandardItem *defaultNode = model.item(0);
    const int groupCount = int(groupNodes_.size());
    // The vehicles of each parent are appended together when the placement ends, however it
    // ends: one insertion per parent instead of one per vehicle keeps a shown tree cheap. Each
    // parent's vehicles keep the server's order.
    struct Pending {
        QList<QStandardItem *> parents;
        QHash<QStandardItem *, QList<QStandardItem *>> children;
        void add(QStandardItem *parent, QStandardItem *child) {
            auto it = children.find(parent);
            if (it == children.end()) {
                parents.append(parent);
                it = children.insert(parent, {});
            }
            it->append(child);
        }
        ~Pending() {
            for (QStandardItem *p : parents)
                p->appendRows(children.value(p));
        }
    } pending;
    const int serverGroups = server.get_GroupsNum();
    for (int i = 1; i <= serverGroups; ++i) {
        const int cars = server.ReadGroupCarsNum(i);
        for (int j = 1; j <= cars; ++j) {
            TCarReads r = server.ReadCar(j);
            // Only Cars.ini decides where a vehicle goes; its server group does not.
            const kp::config::CarPlacement at = files_->cars.placement(r.CarDevice);
            QStandardItem *parent = defaultNode;
            if (at.group >= 1 && at.group <= groupCount) {
                parent = groupNodes_.at(at.group - 1);
                // The subgroup nodes are the group node's first children.
                if (at.subgroup >= 1 && at.subgroup <= subgroupCounts_.at(at.group - 1))
                    parent = parent->child(at.subgroup - 1);
            }
            const QString text = vehicleNodeText(r.CarDevice, r.CarModel, r.CarNumber);
            pending.add(
                parent,
                new VehicleItem(text, TCarsParams(r.CarDevice, r.CarModel, r.CarNumber, r.CarRoute,
                                                  r.CarDrivers, r.CarAlias, r.CarTelNum,
                                                  r.CarCheckPointsFile, r.GroupName, r.GroupAddress,
                                                  r.GroupContacts, r.GroupFileName)));
        }
    }
}

QStringList fillFleetTree(QStandardItemModel &model, TKelvonAutomation &server) {
    FleetTreeFill fill;
    QStringList groups = fill.buildGroups(model);
    fill.placeVehicles(model, server);
    return groups;
}

} // namespace kp::app
