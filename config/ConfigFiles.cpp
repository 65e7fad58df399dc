#include "config/ConfigFiles.h"

#include "platform/core/AppDir.h"

#include <algorithm>
#include <limits>

namespace kp::config {

namespace {
const QString kCount = QStringLiteral("count");
const QString kGroup1 = QStringLiteral("Group1");
const QString kGroup2 = QStringLiteral("Group2");
} // namespace

QString configDir() { return kp::appDir() + QStringLiteral("/TS"); }
QString groupsFilePath() { return configDir() + QStringLiteral("/GroupLVL1.ini"); }
QString subgroupsFilePath() { return configDir() + QStringLiteral("/GroupLVL2.ini"); }
QString carsFilePath() { return configDir() + QStringLiteral("/Cars.ini"); }

QStringList readList(const IniFile &ini, const QString &section) {
    const int count = std::min(ini.readInteger(section, kCount, 0), kMaxListItems);
    QStringList items;
    for (int i = 1; i <= count; ++i)
        items.append(ini.readString(section, QString::number(i), {}));
    return items;
}

int appendToList(IniFile &ini, const QString &section, const QString &name) {
    const int old = ini.readInteger(section, kCount, 0);
    // The name goes under the new count, so it is the item the next reading shows last. A
    // negative count would otherwise hide the new item and let every later add overwrite it.
    const int next = old < 0 ? 1 : old == std::numeric_limits<int>::max() ? old : old + 1;
    const QString key = QString::number(next);
    if (!ini.canWrite(section, key, name)) ini.raiseWriteError();
    ini.writeInteger(section, kCount, next);
    ini.writeString(section, key, name);
    return next;
}

GroupsFile::GroupsFile(IniIo &io) : ini_(groupsFilePath(), io) {}
GroupsFile::GroupsFile(const QString &path, IniIo &io) : ini_(path, io) {}

void GroupsFile::rename(int group, const QString &name) {
    ini_.writeString(section(), QString::number(group), name);
}

SubgroupsFile::SubgroupsFile(IniIo &io) : ini_(subgroupsFilePath(), io) {}
SubgroupsFile::SubgroupsFile(const QString &path, IniIo &io) : ini_(path, io) {}

QStringList SubgroupsFile::names(int group) const {
    if (group < 1) return {};
    return readList(ini_, section(group));
}

void SubgroupsFile::rename(int group, int subgroup, const QString &name) {
    ini_.writeString(section(group), QString::number(subgroup), name);
}

CarsFile::CarsFile(IniIo &io) : ini_(carsFilePath(), io) {}
CarsFile::CarsFile(const QString &path, IniIo &io) : ini_(path, io) {}

CarPlacement CarsFile::placement(int device) const {
    const QString s = section(device);
    return {ini_.readInteger(s, kGroup1, 0), ini_.readInteger(s, kGroup2, 0)};
}

CarParams CarsFile::panelParams(int device) const {
    const QString s = section(device);
    CarParams p;
    p.group = ini_.readInteger(s, kGroup1, 0);
    p.subgroup = ini_.readInteger(s, kGroup2, 0);
    for (int i = 0; i < kInputCount; ++i)
        p.roles[i] = ini_.readInteger(s, roleKey(i + 1), RoleNotUsed);
    return p;
}

int CarsFile::calcRole(int device, int input) const {
    return ini_.readInteger(section(device), roleKey(input), 0);
}

void CarsFile::saveParams(int device, const CarParams &params) {
    const QString s = section(device);
    ini_.writeInteger(s, kGroup1, params.group);
    ini_.writeInteger(s, kGroup2, params.subgroup);
    saveRoles(device, params.roles);
}

void CarsFile::saveRoles(int device, const InputRoles &roles) {
    const QString s = section(device);
    for (int i = 0; i < kInputCount; ++i)
        ini_.writeInteger(s, roleKey(i + 1), roles[i]);
}

} // namespace kp::config
