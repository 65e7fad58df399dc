// The three configuration files: where they are, the lists, each reader's defaults and each
// write of the group editor and the parameters panel, in its order.
#include "Bytes.h"
#include "FaultyIo.h"
#include "config/ConfigFiles.h"
#include "platform/core/AppDir.h"
#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace kp::config;
using kp::EIniFileException;

Q_DECLARE_METATYPE(kp::config::CarParams)
Q_DECLARE_METATYPE(kp::config::CarPlacement)

namespace {

QString writeErrorOf(const std::function<void()> &write) {
    try {
        write();
    } catch (const EIniFileException &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

class TestConfigFiles : public QObject {
    Q_OBJECT
private slots:
    void init();

    void filesAreInTsBesideTheProgram();
    void readsLists_data();
    void readsLists();
    void overlongCountIsCut();
    void subgroupListsPerGroup();

    void groupEditorWrites_data();
    void groupEditorWrites();
    void addWritesCountThenNameAndStopsAtAFailure();
    void addRefusesANameBeforeWritingTheCount();

    void carsReadersDefaults_data();
    void carsReadersDefaults();
    void saveParamsWritesSixKeysInOrder();
    void saveRolesKeepsGroupAndSubgroup();
    void failedSaveStopsAtThatWrite();

    void eachOperationReadsItsFilesOnce();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString ts_;
};

void TestConfigFiles::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    kp::setAppDirForTests(dir_->path());
    ts_ = dir_->filePath(QStringLiteral("TS"));
    QVERIFY(QDir().mkpath(ts_));
}

void TestConfigFiles::filesAreInTsBesideTheProgram() {
    QCOMPARE(configDir(), dir_->path() + "/TS");
    QCOMPARE(groupsFilePath(), dir_->path() + "/TS/GroupLVL1.ini");
    QCOMPARE(subgroupsFilePath(), dir_->path() + "/TS/GroupLVL2.ini");
    QCOMPARE(carsFilePath(), dir_->path() + "/TS/Cars.ini");
    GroupsFile groups;
    QCOMPARE(groups.ini().fileName(), groupsFilePath());
    QCOMPARE(SubgroupsFile().ini().fileName(), subgroupsFilePath());
    QCOMPARE(CarsFile().ini().fileName(), carsFilePath());
}

void TestConfigFiles::readsLists_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no file") << QByteArray("<none>") << QStringList();
    QTest::newRow("count 3, name 2 missing")
        << QByteArray("[Groups]\r\ncount=3\r\n1=A\r\n3=C\r\n") << QStringList{"A", "", "C"};
    QTest::newRow("names beyond the count are not listed")
        << QByteArray("[Groups]\r\ncount=2\r\n1=A\r\n2=B\r\n3=C\r\n") << QStringList{"A", "B"};
    QTest::newRow("no count") << QByteArray("[Groups]\r\n1=A\r\n") << QStringList();
    QTest::newRow("count not a number")
        << QByteArray("[Groups]\r\ncount=2x\r\n1=A\r\n") << QStringList();
    QTest::newRow("negative count")
        << QByteArray("[Groups]\r\ncount=-2\r\n1=A\r\n") << QStringList();
    QTest::newRow("Russian names, any case of key and section")
        << QByteArray("[GROUPS]\r\nCOUNT=2\r\n1=" + cp1251(QStringLiteral("Центр")) +
                      "\r\n2=" + cp1251(QStringLiteral("\"Юг\"")) + "\r\n")
        << QStringList{QStringLiteral("Центр"), QStringLiteral("Юг")};
}

void TestConfigFiles::readsLists() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    if (file != "<none>") writeBytes(groupsFilePath(), file);
    QCOMPARE(GroupsFile().names(), expected);
}

void TestConfigFiles::overlongCountIsCut() {
    writeBytes(groupsFilePath(), "[Groups]\r\ncount=2000000000\r\n1=A\r\n");
    const QStringList names = GroupsFile().names();
    QCOMPARE(names.size(), kMaxListItems);
    QCOMPARE(names.front(), QString("A"));
}

void TestConfigFiles::subgroupListsPerGroup() {
    writeBytes(subgroupsFilePath(), "[Group0]\r\ncount=1\r\n1=none\r\n"
                                    "[Group1]\r\ncount=1\r\n1=First\r\n"
                                    "[group2]\r\ncount=2\r\n2=Second b\r\n"
                                    "[Group12]\r\ncount=1\r\n1=Twelve\r\n");
    SubgroupsFile file;
    QCOMPARE(file.names(1), QStringList{"First"});
    QCOMPARE(file.names(2), (QStringList{"", "Second b"}));
    QCOMPARE(file.names(12), QStringList{"Twelve"});
    QCOMPARE(file.names(3), QStringList());
    // No group chosen: no subgroups, whatever a hand-made section "Group0" holds.
    QCOMPARE(file.names(0), QStringList());
    QCOMPARE(SubgroupsFile::section(3), QString("Group3"));
}

void TestConfigFiles::groupEditorWrites_data() {
    QTest::addColumn<QString>("file"); // GroupLVL1 or GroupLVL2
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("number"); // what add returns
    QTest::addColumn<QByteArray>("after");
    const QByteArray two("[Groups]\r\ncount=2\r\n1=A\r\n2=B\r\n");
    const QByteArray name = cp1251(QStringLiteral("Северный парк"));
    QTest::newRow("first group creates the file")
        << "GroupLVL1" << QByteArray("<none>") << "addGroup" << 1
        << QByteArray("[Groups]\r\ncount=1\r\n1=" + name + "\r\n");
    QTest::newRow("add to a list of two")
        << "GroupLVL1" << two << "addGroup" << 3
        << QByteArray("[Groups]\r\ncount=3\r\n1=A\r\n2=B\r\n3=" + name + "\r\n");
    QTest::newRow("add where name 2 is missing")
        << "GroupLVL1" << QByteArray("[Groups]\r\ncount=3\r\n1=A\r\n3=C\r\n") << "addGroup" << 4
        << QByteArray("[Groups]\r\ncount=4\r\n1=A\r\n3=C\r\n4=" + name + "\r\n");
    // A damaged negative count would hide the new group and let the next add overwrite it.
    QTest::newRow("add with a negative count")
        << "GroupLVL1" << QByteArray("[Groups]\r\ncount=-3\r\n") << "addGroup" << 1
        << QByteArray("[Groups]\r\ncount=1\r\n1=" + name + "\r\n");
    QTest::newRow("rename group 2 changes only name 2")
        << "GroupLVL1" << two << "renameGroup2" << 0
        << QByteArray("[Groups]\r\ncount=2\r\n1=A\r\n2=" + name + "\r\n");
    QTest::newRow("first subgroup of group 3")
        << "GroupLVL2" << QByteArray("[Group1]\r\ncount=1\r\n1=X\r\n") << "addSubgroup3" << 1
        << QByteArray("[Group1]\r\ncount=1\r\n1=X\r\n[Group3]\r\ncount=1\r\n1=" + name + "\r\n");
    QTest::newRow("second subgroup of group 1")
        << "GroupLVL2" << QByteArray("[Group1]\r\ncount=1\r\n1=X\r\n[Group3]\r\ncount=1\r\n")
        << "addSubgroup1" << 2
        << QByteArray("[Group1]\r\ncount=2\r\n1=X\r\n2=" + name + "\r\n[Group3]\r\ncount=1\r\n");
    QTest::newRow("rename subgroup 1 of group 2")
        << "GroupLVL2" << QByteArray("[Group1]\r\ncount=1\r\n1=X\r\n[Group2]\r\ncount=1\r\n1=Y\r\n")
        << "renameSubgroup2.1" << 0
        << QByteArray("[Group1]\r\ncount=1\r\n1=X\r\n[Group2]\r\ncount=1\r\n1=" + name + "\r\n");
}

void TestConfigFiles::groupEditorWrites() {
    QFETCH(QString, file);
    QFETCH(QByteArray, before);
    QFETCH(QString, operation);
    QFETCH(int, number);
    QFETCH(QByteArray, after);
    const QString name = QStringLiteral("Северный парк");
    const QString path = file == "GroupLVL1" ? groupsFilePath() : subgroupsFilePath();
    if (before != "<none>") writeBytes(path, before);
    if (operation == "addGroup") QCOMPARE(GroupsFile().add(name), number);
    if (operation == "renameGroup2") GroupsFile().rename(2, name);
    if (operation == "addSubgroup3") QCOMPARE(SubgroupsFile().add(3, name), number);
    if (operation == "addSubgroup1") QCOMPARE(SubgroupsFile().add(1, name), number);
    if (operation == "renameSubgroup2.1") SubgroupsFile().rename(2, 1, name);
    QCOMPARE(readBytes(path), after);
}

void TestConfigFiles::addWritesCountThenNameAndStopsAtAFailure() {
    // Fail the second replacement of the file: the count is written, the name is not.
    FaultyIo io;
    int renames = 0;
    io.onOp = [&](const char *op, const char *) {
        return strcmp(op, "rename") == 0 && ++renames == 2 ? EIO : 0;
    };
    GroupsFile groups(io);
    QCOMPARE(writeErrorOf([&] { groups.add("New"); }), "Unable to write to " + groupsFilePath());
    QCOMPARE(readBytes(groupsFilePath()), QByteArray("[Groups]\r\ncount=1\r\n"));
    QCOMPARE(GroupsFile().names(), QStringList{""});
}

void TestConfigFiles::addRefusesANameBeforeWritingTheCount() {
    const QByteArray before("[Groups]\r\ncount=1\r\n1=A\r\n");
    writeBytes(groupsFilePath(), before);
    for (const QString &name : {QStringLiteral("two\r\nlines"), QStringLiteral("Ұлы дала")}) {
        QCOMPARE(writeErrorOf([&] { GroupsFile().add(name); }),
                 "Unable to write to " + groupsFilePath());
        QCOMPARE(readBytes(groupsFilePath()), before);
    }
    QCOMPARE(writeErrorOf([&] { SubgroupsFile().add(1, QStringLiteral("a\nb")); }),
             "Unable to write to " + subgroupsFilePath());
    QVERIFY(!QFile::exists(subgroupsFilePath()));
}

void TestConfigFiles::carsReadersDefaults_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<CarPlacement>("tree");
    QTest::addColumn<CarParams>("panel");
    QTest::addColumn<QList<int>>("calc");
    QTest::newRow("no file") << QByteArray("<none>") << CarPlacement{0, 0}
                             << CarParams{0, 0, {1, 1, 1, 1}} << QList<int>{0, 0, 0, 0};
    QTest::newRow("other vehicles only")
        << QByteArray("[518]\r\nGroup1=2\r\nD1=2\r\n") << CarPlacement{0, 0}
        << CarParams{0, 0, {1, 1, 1, 1}} << QList<int>{0, 0, 0, 0};
    QTest::newRow("saved vehicle")
        << QByteArray("[517]\r\nGroup1=2\r\nGroup2=1\r\nD1=2\r\nD2=3\r\nD3=1\r\nD4=4\r\n")
        << CarPlacement{2, 1} << CarParams{2, 1, {2, 3, 1, 4}} << QList<int>{2, 3, 1, 4};
    QTest::newRow("roles only") << QByteArray("[517]\r\nD1=4\r\nD2=4\r\nD3=4\r\nD4=4\r\n")
                                << CarPlacement{0, 0} << CarParams{0, 0, {4, 4, 4, 4}}
                                << QList<int>{4, 4, 4, 4};
    QTest::newRow("not numbers") << QByteArray(
                                        "[517]\r\nGroup1=x\r\nGroup2=\r\nD1=2.0\r\nD3=$2\r\n")
                                 << CarPlacement{0, 0} << CarParams{0, 0, {1, 1, 2, 1}}
                                 << QList<int>{0, 0, 2, 0};
    // Values the system never writes reach the readers as they are.
    QTest::newRow("out of range") << QByteArray(
                                         "[517]\r\nGroup1=9\r\nGroup2=-1\r\nD2=7\r\nD4=0\r\n")
                                  << CarPlacement{9, -1} << CarParams{9, -1, {1, 7, 1, 0}}
                                  << QList<int>{0, 7, 0, 0};
}

void TestConfigFiles::carsReadersDefaults() {
    QFETCH(QByteArray, file);
    QFETCH(CarPlacement, tree);
    QFETCH(CarParams, panel);
    QFETCH(QList<int>, calc);
    if (file != "<none>") writeBytes(carsFilePath(), file);
    CarsFile cars;
    QCOMPARE(cars.placement(517), tree);
    QCOMPARE(cars.panelParams(517), panel);
    for (int input = 1; input <= 4; ++input)
        QCOMPARE(cars.calcRole(517, input), calc[input - 1]);
}

void TestConfigFiles::saveParamsWritesSixKeysInOrder() {
    CarsFile cars;
    cars.saveParams(517, CarParams{2, 1, {RoleEntering, RoleLeaving, RoleNotUsed, RoleNotUsed}});
    cars.saveParams(-5, CarParams{0, 0, {0, 0, 0, 0}}); // boxes with nothing chosen store 0
    QCOMPARE(readBytes(carsFilePath()),
             QByteArray("[517]\r\nGroup1=2\r\nGroup2=1\r\nD1=2\r\nD2=3\r\nD3=1\r\nD4=1\r\n"
                        "[-5]\r\nGroup1=0\r\nGroup2=0\r\nD1=0\r\nD2=0\r\nD3=0\r\nD4=0\r\n"));
    // Saved again with other values: each key changes in place.
    CarsFile().saveParams(517, CarParams{3, 0, {4, 3, 1, 1}});
    QCOMPARE(readBytes(carsFilePath()),
             QByteArray("[517]\r\nGroup1=3\r\nGroup2=0\r\nD1=4\r\nD2=3\r\nD3=1\r\nD4=1\r\n"
                        "[-5]\r\nGroup1=0\r\nGroup2=0\r\nD1=0\r\nD2=0\r\nD3=0\r\nD4=0\r\n"));
    QCOMPARE(CarsFile().placement(517), (CarPlacement{3, 0}));
}

void TestConfigFiles::saveRolesKeepsGroupAndSubgroup() {
    writeBytes(carsFilePath(), "[517]\r\nGroup1=2\r\nGroup2=1\r\nD1=1\r\nD2=1\r\nD3=1\r\nD4=1\r\n");
    CarsFile cars;
    cars.saveRoles(517, {4, 2, 3, 1});
    cars.saveRoles(600, {4, 2, 3, 1}); // a vehicle never saved before
    QCOMPARE(readBytes(carsFilePath()),
             QByteArray("[517]\r\nGroup1=2\r\nGroup2=1\r\nD1=4\r\nD2=2\r\nD3=3\r\nD4=1\r\n"
                        "[600]\r\nD1=4\r\nD2=2\r\nD3=3\r\nD4=1\r\n"));
    QCOMPARE(CarsFile().placement(600), (CarPlacement{0, 0}));
    QCOMPARE(CarsFile().placement(517), (CarPlacement{2, 1}));
}

void TestConfigFiles::failedSaveStopsAtThatWrite() {
    // The third write of the six fails: "Group1" and "Group2" stay written, the rest is not.
    FaultyIo io;
    int renames = 0;
    io.onOp = [&](const char *op, const char *) {
        return strcmp(op, "rename") == 0 && ++renames == 3 ? EIO : 0;
    };
    CarsFile cars(io);
    QCOMPARE(writeErrorOf([&] {
                 cars.saveParams(517, CarParams{2, 1, {2, 2, 2, 2}});
             }),
             "Unable to write to " + carsFilePath());
    QCOMPARE(readBytes(carsFilePath()), QByteArray("[517]\r\nGroup1=2\r\nGroup2=1\r\n"));

    // A read-only Cars.ini: the error names the file, nothing changes.
    const QByteArray before = readBytes(carsFilePath());
    QVERIFY(QFile::setPermissions(carsFilePath(), QFile::ReadOwner | QFile::ReadGroup));
    QCOMPARE(writeErrorOf([&] {
                 CarsFile().saveRoles(517, {3, 3, 3, 3});
             }),
             "Unable to write to " + carsFilePath());
    QCOMPARE(readBytes(carsFilePath()), before);

    // No TS folder: the same error, and no folder is made.
    QVERIFY(QDir(ts_).removeRecursively());
    QCOMPARE(writeErrorOf([&] { GroupsFile().add("A"); }),
             "Unable to write to " + groupsFilePath());
    QVERIFY(!QFileInfo::exists(ts_));
}

void TestConfigFiles::eachOperationReadsItsFilesOnce() {
    writeBytes(groupsFilePath(), "[Groups]\r\ncount=2\r\n1=A\r\n2=B\r\n");
    writeBytes(subgroupsFilePath(), "[Group1]\r\ncount=1\r\n1=A1\r\n");
    writeBytes(carsFilePath(), "[1]\r\nGroup1=1\r\nGroup2=1\r\n[2]\r\nGroup1=2\r\n");
    // The tree fill: the three files opened once each, however many vehicles it places.
    FaultyIo io;
    {
        GroupsFile groups(io);
        SubgroupsFile subgroups(io);
        CarsFile cars(io);
        const QStringList names = groups.names();
        for (int g = 1; g <= names.size(); ++g)
            subgroups.names(g);
        for (int device = 1; device <= 200; ++device)
            cars.placement(device);
        QCOMPARE(cars.placement(1), (CarPlacement{1, 1}));
        // A hand edit while the fill runs is seen by the next operation, not this one.
        writeBytes(carsFilePath(), "[1]\r\nGroup1=2\r\n");
        QCOMPARE(cars.placement(1), (CarPlacement{1, 1}));
    }
    QCOMPARE(io.opens, 3);
    QCOMPARE(CarsFile().placement(1), (CarPlacement{2, 0}));
}

std::unique_ptr<QObject> makeTestConfigFiles() { return std::make_unique<TestConfigFiles>(); }

#include "TestConfigFiles.moc"
