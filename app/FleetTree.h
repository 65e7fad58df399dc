// The fleet tree without its window: the vehicle record every vehicle node owns, the node kinds,
// the fill from the monitoring server and the configuration files, and the one rule that turns a
// tree selection into the ordered list of vehicles it stands for.
#pragma once

#include <QList>
#include <QModelIndex>
#include <QStandardItem>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QStandardItemModel;
class TKelvonAutomation;

// One vehicle as the server listed it, copied when the tree is filled and never changed after.
struct TCarsParams {
    TCarsParams(std::int32_t device, QString model, QString number, QString route, QString drivers,
                QString alias, QString telNum, QString checkPointsFile, QString groupName,
                QString groupAddress, QString groupContacts, QString groupFileName)
        : Device(device), Model(std::move(model)), Number(std::move(number)),
          Route(std::move(route)), Drivers(std::move(drivers)), Alias(std::move(alias)),
          TelNum(std::move(telNum)), CheckPointsFile(std::move(checkPointsFile)),
          GroupName(std::move(groupName)), GroupAddress(std::move(groupAddress)),
          GroupContacts(std::move(groupContacts)), GroupFileName(std::move(groupFileName)) {}

    std::int32_t Device; // the vehicle's key: Cars.ini section, result columns
    QString Model;
    QString Number;
    QString Route;
    QString Drivers;
    QString Alias;
    QString TelNum;
    QString CheckPointsFile;
    QString GroupName; // of the server group that lists the vehicle
    QString GroupAddress;
    QString GroupContacts;
    QString GroupFileName; // selects that server group before the vehicle's data are asked for
};

namespace kp::app {

// The text of the default node, always the first top-level node.
QString defaultNodeText();

// A vehicle node: a tree item that owns its record; the record goes with the node.
class VehicleItem : public QStandardItem {
public:
    static constexpr int Type = QStandardItem::UserType + 1;
    VehicleItem(const QString &text, TCarsParams record);
    int type() const override { return Type; }
    const TCarsParams &record() const { return record_; }

private:
    TCarsParams record_;
};

// A node's record, or null for the default, group and subgroup nodes. Whether a node is a vehicle
// is decided by this and nothing else.
const TCarsParams *carRecord(const QStandardItem *item);
const TCarsParams *carRecord(const QModelIndex &index);

// The vehicle text: the device number with at least five digits when the model is empty,
// otherwise the model, followed by " - " and the number when there is one.
QString vehicleNodeText(std::int32_t device, const QString &model, const QString &number);

// What a selection stands for. `wholeNode` is true when exactly one node was selected and it
// carries no record: the vehicles are then everything below it (the parameters panel writes only
// the input roles in that case).
struct SelectionVehicles {
    QList<const TCarsParams *> vehicles;
    bool wholeNode = false;
};

// The one rule, for the selected nodes in the order they were selected:
// - one node without a record: every vehicle below it in tree order (its own vehicle children,
//   and the vehicles of each subgroup child in place);
// - otherwise: the selected vehicle nodes in selection order; other nodes are ignored.
SelectionVehicles vehiclesOfSelection(const QList<QModelIndex> &selectedInOrder);

// One fill of the tree. Making it opens (reads) the three configuration files; they are used for
// this fill only. The fill runs in two steps so that the window loads its group list between them.
class FleetTreeFill {
public:
    FleetTreeFill();
    ~FleetTreeFill();
    FleetTreeFill(const FleetTreeFill &) = delete;
    FleetTreeFill &operator=(const FleetTreeFill &) = delete;

    // Removes every node (and with it every record), then adds the default node and the group
    // and subgroup nodes of GroupLVL1.ini and GroupLVL2.ini. Returns the group names in
    // group-number order.
    QStringList buildGroups(QStandardItemModel &model);

    // Places every vehicle the server enumerates as the last child of the node Cars.ini names
    // for it. An error of the server client ends the placement where it happened: the nodes
    // placed so far stay, and the error propagates.
    void placeVehicles(QStandardItemModel &model, TKelvonAutomation &server);

private:
    struct Files;
    std::unique_ptr<Files> files_;
    QList<QStandardItem *> groupNodes_; // node of group g at g - 1
    QList<int> subgroupCounts_;         // subgroups of group g at g - 1
};

// Both steps; returns the group names.
QStringList fillFleetTree(QStandardItemModel &model, TKelvonAutomation &server);

} // namespace kp::app
