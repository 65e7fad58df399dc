// The three configuration files in TS beside the executable: the group list (GroupLVL1.ini),
// the subgroup lists (GroupLVL2.ini) and every vehicle's group, subgroup and input roles
// (Cars.ini). Each object opens its file for one operation: make a new one for the next. The
// files are the ones under kp::appDir() unless a path is given.
#pragma once

#include "config/IniFile.h"

#include <QStringList>

#include <array>

namespace kp::config {

QString configDir();         // kp::appDir() + "/TS"
QString groupsFilePath();    // .../TS/GroupLVL1.ini
QString subgroupsFilePath(); // .../TS/GroupLVL2.ini
QString carsFilePath();      // .../TS/Cars.ini

// A list longer than this is a damaged count, not a fleet: it is cut here rather than filling
// memory with empty names.
constexpr int kMaxListItems = 10000;

// Reads a list as the group files keep it: "count" (default 0) names 1 ... count, a missing
// name is an empty item. The list has exactly count items (none when count is not positive).
QStringList readList(const IniFile &ini, const QString &section);

// Adds name as the next item of a list: "count" becomes count + 1 (a count below zero counts
// as 0), then name is written under the new count. Returns the new item's number. A name the
// file cannot hold raises the write error before anything is written.
int appendToList(IniFile &ini, const QString &section, const QString &name);

// GroupLVL1.ini: section "Groups". Group g is names()[g - 1].
class GroupsFile {
public:
    explicit GroupsFile(IniIo &io = IniIo::system());
    explicit GroupsFile(const QString &path, IniIo &io = IniIo::system());
    static QString section() { return QStringLiteral("Groups"); }

    QStringList names() const { return readList(ini_, section()); }
    // Adds a group at the end of the list; returns its number.
    int add(const QString &name) { return appendToList(ini_, section(), name); }
    // Writes only the name of group; the count stays.
    void rename(int group, const QString &name);

    IniFile &ini() { return ini_; }

private:
    IniFile ini_;
};

// GroupLVL2.ini: the subgroups of group g in section "Group<g>".
class SubgroupsFile {
public:
    explicit SubgroupsFile(IniIo &io = IniIo::system());
    explicit SubgroupsFile(const QString &path, IniIo &io = IniIo::system());
    static QString section(int group) { return QStringLiteral("Group") + QString::number(group); }

    // Subgroup s of group is names(group)[s - 1]; group 0 (no group chosen) has none.
    QStringList names(int group) const;
    int add(int group, const QString &name) { return appendToList(ini_, section(group), name); }
    void rename(int group, int subgroup, const QString &name);

    IniFile &ini() { return ini_; }

private:
    IniFile ini_;
};

// Stored roles of a discrete input (the role box position + 1).
enum InputRole : int { RoleNotUsed = 1, RoleEntering = 2, RoleLeaving = 3, RoleCarried = 4 };
constexpr int kInputCount = 4;
using InputRoles = std::array<int, kInputCount>; // inputs 1 ... 4

// Where the tree puts a vehicle; 0 is "none" (default node, or directly under the group).
struct CarPlacement {
    int group = 0;
    int subgroup = 0;
    friend bool operator==(const CarPlacement &, const CarPlacement &) = default;
};

// What the parameters panel shows and saves for a vehicle. A box with nothing chosen is 0.
struct CarParams {
    int group = 0;
    int subgroup = 0;
    InputRoles roles{RoleNotUsed, RoleNotUsed, RoleNotUsed, RoleNotUsed};
    friend bool operator==(const CarParams &, const CarParams &) = default;
};

// Cars.ini: one section per vehicle, named by its device number in decimal.
class CarsFile {
public:
    explicit CarsFile(IniIo &io = IniIo::system());
    explicit CarsFile(const QString &path, IniIo &io = IniIo::system());
    static QString section(int device) { return QString::number(device); }
    static QString roleKey(int input) { return QStringLiteral("D") + QString::number(input); }

    // The tree fill: "Group1" and "Group2", 0 when missing.
    CarPlacement placement(int device) const;
    // The parameters panel: "Group1" and "Group2" 0 when missing, roles 1 ("N/A").
    CarParams panelParams(int device) const;
    // The calculation: the role of input 1 ... 4, 0 when missing.
    int calcRole(int device, int input) const;

    // "Изменить" for vehicles: "Group1", "Group2", "D1" ... "D4", in this order.
    void saveParams(int device, const CarParams &params);
    // "Изменить" for a group node: "D1" ... "D4" only; group and subgroup stay.
    void saveRoles(int device, const InputRoles &roles);

    IniFile &ini() { return ini_; }

private:
    IniFile ini_;
};

} // namespace kp::config
