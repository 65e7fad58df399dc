// The fleet tree, the vehicle parameters panel and the group list editor, driven through the
// real widgets against a kelvon-monitor serving the fleet of fleet.csv:
//   server group 1: 7 (no model), 101, 102 (no number), 103
//   server group 2: 201, 202, 123456 (no model), 204, -42 (no model)
// and the configuration of TreeFixture.cpp:
//   groups 1 "Север" (subgroup "Пустая"), 2 "Юг" ("Утро", "Вечер"), 3 "Север", 4 "По умолчанию";
//   101 in 2/1, 102 in 2/3 (above the count), 103 in 5 (above the count), 201 in 3, 202 in 4,
//   123456 in 2/2, 204 in 2/0; 7 and -42 have no section.
#include "app/Application.h"
#include "app/CarsTreeView.h"
#include "app/FleetTree.h"
#include "app/Mainform.h"
#include "config/Addchange.h"
#include "config/ConfigFiles.h"
#include "config/Groupchange.h"
#include "platform/core/AppDir.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/tree/TreeFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QtTest>

#include <memory>

using namespace kp::test;

namespace {

FleetServer &server() {
    static FleetServer s;
    return s;
}

bool ensureServer() { return server().running() || server().start(); }

// A main window after the real start-up sequence.
std::unique_ptr<TForm1> startWindow() {
    auto w = std::make_unique<TForm1>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) qFatal("window not exposed");
    w->FormShow();
    return w;
}

int iniInt(const QString &path, int device, const char *key, int def = -99) {
    return kp::config::IniFile(path).readInteger(QString::number(device), QString::fromLatin1(key),
                                                 def);
}

// Lets the modal boxes of the tests through: the editor and the name dialog are scripted.
void leaveScriptedDialogs(ModalAnswerer &boxes) {
    boxes.setCustom([](QWidget *w) { return w->inherits("TForm2") || w->inherits("TForm3"); });
}

// The section of a device as it stands in the file, lines without their breaks.
QStringList sectionLines(const QString &path, const QString &section) {
    const QStringList lines = QString::fromUtf8(readFile(path)).split(QStringLiteral("\r\n"));
    QStringList out;
    bool in = false;
    for (const QString &l : lines) {
        if (l.startsWith(QLatin1Char('['))) {
            if (in) break;
            in = l == QLatin1Char('[') + section + QLatin1Char(']');
            continue;
        }
        if (in && !l.isEmpty()) out << l;
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The tree: fill, placement, texts, selection, failures, start-up.

class TestFleetTree : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void vehiclesArePlacedByCarsIni_data();
    void vehiclesArePlacedByCarsIni();
    void treeAfterAFill();
    void selectionByClicks_data();
    void selectionByClicks();
    void selectionByKeys();
    void serverFailureInTheMiddleOfAFill();
    void firstRunWithoutConfiguration();
    void startUpWithoutServerEndsTheApplication();

private:
    QTemporaryDir dir_;
};

void TestFleetTree::initTestCase() { QVERIFY(server().start()); }

void TestFleetTree::init() {
    QVERIFY(ensureServer());
    QVERIFY(dir_.isValid());
    kp::setAppDirForTests(dir_.path());
    QDir(dir_.path() + "/TS").removeRecursively();
    writeFixtureConfig(dir_.path());
}

void TestFleetTree::vehiclesArePlacedByCarsIni_data() {
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("text");
    QTest::newRow("no section: default node") << 7 << "По умолчанию@0"
                                              << "00007";
    QTest::newRow("group and subgroup") << 101 << "Юг@2/Утро@0"
                                        << "ПАЗ-3205 - АС 101 63";
    QTest::newRow("subgroup above the group's count: the group") << 102 << "Юг@2"
                                                                 << "ЛиАЗ-5256";
    QTest::newRow("group above the count: default node") << 103 << "По умолчанию@0"
                                                         << "ГАЗель - А 103 ВС";
    QTest::newRow("second of two groups with one name") << 201 << "Север@3"
                                                        << "НефАЗ-5299 - В 201 ОР";
    QTest::newRow("a group named like the default node") << 202 << "По умолчанию@4"
                                                         << "ПАЗ-3205 - Е 202 КХ";
    QTest::newRow("six digits, no model") << 123456 << "Юг@2/Вечер@1"
                                          << "123456";
    QTest::newRow("subgroup 0: directly in the group") << 204 << "Юг@2"
                                                       << "МАЗ-206 - К 204 МН";
    QTest::newRow("negative device, no model") << -42 << "По умолчанию@0"
                                               << "-00042";
}

void TestFleetTree::vehiclesArePlacedByCarsIni() {
    QFETCH(int, device);
    QFETCH(QString, where);
    QFETCH(QString, text);
    auto w = startWindow();
    QCOMPARE(whereIs(w->trvCars, device), where);
    QStringList steps = where.split('/');
    steps.replaceInStrings(QRegularExpression("^.*@"), "@");
    const QModelIndex n = node(w->trvCars, steps.join('/') + "/#" + QString::number(device));
    QVERIFY(n.isValid());
    QCOMPARE(n.data().toString(), text);
}

void TestFleetTree::treeAfterAFill() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    QCOMPARE(childTexts(t, {}),
             (QStringList{"По умолчанию", "Север", "Юг", "Север", "По умолчанию"}));
    // Vehicles in the server's order; subgroup nodes before the group's own vehicles.
    QCOMPARE(childTexts(t, node(t, "@0")), (QStringList{"00007", "ГАЗель - А 103 ВС", "-00042"}));
    QCOMPARE(childTexts(t, node(t, "@1")), QStringList{"Пустая"});
    QCOMPARE(childTexts(t, node(t, "@2")),
             (QStringList{"Утро", "Вечер", "ЛиАЗ-5256", "МАЗ-206 - К 204 МН"}));
    QCOMPARE(childTexts(t, node(t, "@1/@0")), QStringList{});
    // Only vehicle nodes carry a record; every node is collapsed, nothing selected.
    for (const char *p : {"@0", "@1", "@1/@0", "@2", "@2/@0", "@2/@1", "@3", "@4"}) {
        QVERIFY2(!kp::app::carRecord(node(t, p)), p);
        QVERIFY2(!t->isExpanded(node(t, p)), p);
    }
    QVERIFY(t->selectedInOrder().isEmpty());
    // The record holds what the server listed, its server group's data included.
    const TCarsParams *r = kp::app::carRecord(node(t, "@2/@0/#101"));
    QVERIFY(r);
    QCOMPARE(r->Device, 101);
    QCOMPARE(r->Model, QStringLiteral("ПАЗ-3205"));
    QCOMPARE(r->Number, QStringLiteral("АС 101 63"));
    QCOMPARE(r->Route, QStringLiteral("Маршрут 12"));
    QCOMPARE(r->Drivers, QStringLiteral("Петров П. П."));
    QCOMPARE(r->Alias, QStringLiteral("Борт 101"));
    QCOMPARE(r->TelNum, QStringLiteral("+79270000101"));
    QCOMPARE(r->CheckPointsFile, QStringLiteral("101.kcp"));
    QCOMPARE(r->GroupName, QStringLiteral("Автоколонна № 1"));
    QCOMPARE(r->GroupAddress, QStringLiteral("г. Самара, ул. Заводская, 12"));
    QCOMPARE(r->GroupContacts, QStringLiteral("+7 846 200-11-01"));
    QCOMPARE(r->GroupFileName, QStringLiteral("depot1.kgr"));
    QCOMPARE(kp::app::carRecord(node(t, "@3/#201"))->GroupFileName, QStringLiteral("depot2.kgr"));
    // The group list of the panel is reloaded with nothing chosen.
    QStringList groups;
    for (int i = 0; i < w->cmbGroup->count(); ++i)
        groups << w->cmbGroup->itemText(i);
    QCOMPARE(groups, (QStringList{"Север", "Юг", "Север", "По умолчанию"}));
    QCOMPARE(w->cmbGroup->currentIndex(), -1);
    QCOMPARE(w->cmbSubGroup->count(), 0);
    // The labels cannot be edited.
    t->expandAll();
    t->setCurrentIndex(node(t, "@2/#204"));
    QTest::keyClick(t, Qt::Key_F2);
    QVERIFY(!t->findChild<QLineEdit *>());
}

void TestFleetTree::selectionByClicks_data() {
    QTest::addColumn<QStringList>("clicks"); // "ctrl:" or "shift:" before a path holds that key
    QTest::addColumn<QList<int>>("vehicles");
    QTest::addColumn<bool>("wholeNode");
    QTest::newRow("group node: subgroups' vehicles, then its own")
        << QStringList{"@2"} << QList<int>{101, 123456, 102, 204} << true;
    QTest::newRow("default node") << QStringList{"@0"} << QList<int>{7, 103, -42} << true;
    QTest::newRow("subgroup without vehicles") << QStringList{"@1/@0"} << QList<int>{} << true;
    QTest::newRow("subgroup") << QStringList{"@2/@1"} << QList<int>{123456} << true;
    QTest::newRow("group named like the default node")
        << QStringList{"@4"} << QList<int>{202} << true;
    QTest::newRow("group node and two vehicles with Ctrl")
        << QStringList{"@2", "ctrl:@3/#201", "ctrl:@0/#7"} << QList<int>{201, 7} << false;
    QTest::newRow("order of selection is kept")
        << QStringList{"@2/#204", "ctrl:@0/#7", "ctrl:@2/@0/#101"} << QList<int>{204, 7, 101}
        << false;
    QTest::newRow("Ctrl+click removes a node")
        << QStringList{"@2/#204", "ctrl:@0/#7", "ctrl:@2/#204"} << QList<int>{7} << false;
    QTest::newRow("Ctrl+click again adds it at the end")
        << QStringList{"@2/#204", "ctrl:@0/#7", "ctrl:@2/#204", "ctrl:@2/#204"}
        << QList<int>{7, 204} << false;
    QTest::newRow("plain click selects only that node")
        << QStringList{"@2/#204", "ctrl:@0/#7", "@3/#201"} << QList<int>{201} << false;
    QTest::newRow("Shift selects no range")
        << QStringList{"@0/#7", "shift:@0/#-42"} << QList<int>{-42} << false;
    QTest::newRow("Ctrl+Shift selects no range either")
        << QStringList{"@0/#7", "ctrl:@2/#204", "shift:@0/#-42"} << QList<int>{-42} << false;
    QTest::newRow("two group nodes: no vehicles")
        << QStringList{"@2", "ctrl:@3"} << QList<int>{} << false;
    QTest::newRow("the one group node removed: nothing")
        << QStringList{"@2", "ctrl:@2"} << QList<int>{} << false;
}

void TestFleetTree::selectionByClicks() {
    QFETCH(QStringList, clicks);
    QFETCH(QList<int>, vehicles);
    QFETCH(bool, wholeNode);
    auto w = startWindow();
    w->trvCars->expandAll();
    for (QString c : clicks) {
        Qt::KeyboardModifiers mods;
        if (c.startsWith("ctrl:")) mods |= Qt::ControlModifier, c = c.mid(5);
        if (c.startsWith("shift:")) mods |= Qt::ShiftModifier, c = c.mid(6);
        clickNode(w->trvCars, node(w->trvCars, c), mods);
    }
    QCOMPARE(devices(*w), vehicles);
    QCOMPARE(w->selectedVehicles().wholeNode, wholeNode);
}

void TestFleetTree::selectionByKeys() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@0/#7"));
    QTest::keyClick(t, Qt::Key_Down, Qt::ShiftModifier); // moves, selects only the new node
    QCOMPARE(devices(*w), QList<int>{103});
    QTest::keyClick(t, Qt::Key_Down, Qt::ControlModifier); // moves the focus only
    QCOMPARE(devices(*w), QList<int>{103});
    QCOMPARE(t->currentIndex(), node(t, "@0/#-42"));
    QTest::keyClick(t, Qt::Key_Space, Qt::ControlModifier); // adds the focused node
    QCOMPARE(devices(*w), (QList<int>{103, -42}));
    QTest::keyClick(t, Qt::Key_A, Qt::ControlModifier); // no "select all"
    QCOMPARE(devices(*w), (QList<int>{103, -42}));
    QTest::keyClick(t, Qt::Key_Up);
    QCOMPARE(devices(*w), QList<int>{103});
}

void TestFleetTree::serverFailureInTheMiddleOfAFill() {
    auto w = startWindow();
    // The next server answers the group count, the first group's count and three vehicles
    // (a write and twelve reads each), then dies while the fourth is read.
    QVERIFY(server().start({"--exit-after", QString::number(1 + 2 + 3 * 13 + 5)}));
    ModalAnswerer boxes(QMessageBox::Yes); // "Yes" in the HRCHECK box raises the error
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton); // nothing selected: only the rebuild
    QTRY_COMPARE(boxes.count(), 2);
    QCOMPARE(boxes.seen().at(0).objectName, QStringLiteral("HrCheckBox"));
    QCOMPARE(boxes.seen().at(1).objectName, QStringLiteral("ExceptionBox"));
    QVERIFY(!boxes.seen().at(1).text.isEmpty());
    // What was built stays: every group and subgroup node, and the vehicles placed before.
    TCarsTreeView *t = w->trvCars;
    QCOMPARE(childTexts(t, {}).size(), 5);
    QCOMPARE(childTexts(t, node(t, "@2")).mid(0, 2), (QStringList{"Утро", "Вечер"}));
    QCOMPARE(whereIs(t, 7), QStringLiteral("По умолчанию@0"));
    QCOMPARE(whereIs(t, 101), QStringLiteral("Юг@2/Утро@0"));
    QCOMPARE(whereIs(t, 102), QStringLiteral("Юг@2"));
    for (int later : {103, 201, 202, 123456, 204, -42})
        QCOMPARE(whereIs(t, later), QString());
    QCOMPARE(w->cmbGroup->count(), 4);
    // With the server back the next rebuild starts afresh and places everything.
    QVERIFY(server().start());
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(whereIs(t, -42), QStringLiteral("По умолчанию@0"));
}

void TestFleetTree::firstRunWithoutConfiguration() {
    QDir(dir_.path() + "/TS").removeRecursively();
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    QCOMPARE(childTexts(t, {}), QStringList{"По умолчанию"});
    QCOMPARE(childTexts(t, node(t, "@0")).size(), 9);
    QCOMPARE(w->cmbGroup->count(), 0);
    QVERIFY(QFileInfo(dir_.path() + "/TS").isDir());
    // A vehicle shows empty group boxes and "N/A" in the role boxes.
    t->expandAll();
    clickNode(t, node(t, "@0/#201"));
    QCOMPARE(w->cmbGroup->currentIndex(), -1);
    QCOMPARE(w->cmbSubGroup->currentIndex(), -1);
    QCOMPARE(w->cmbD1->currentText(), QStringLiteral("N/A"));
    QCOMPARE(w->cmbD4->currentText(), QStringLiteral("N/A"));
}

void TestFleetTree::startUpWithoutServerEndsTheApplication() {
    server().stop();
    QTemporaryDir fresh; // no kelvon-monitor beside the program, none on the bus
    kp::setAppDirForTests(fresh.path());
    ModalAnswerer boxes;
    QTimer guard; // should the loop start after all, end it so the test reports instead of hanging
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] {
        if (Form1) Form1->close();
    });
    guard.start(5000);
    const int rc = kp::app::runApplication(*qApp);
    QCOMPARE(rc, 0);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.seen().at(0).objectName, QStringLiteral("ExceptionBox"));
    QCOMPARE(boxes.seen().at(0).icon, QMessageBox::Critical);
    QVERIFY(!boxes.seen().at(0).text.isEmpty());
    QVERIFY(Form1 == nullptr);
    QVERIFY(!QFileInfo::exists(fresh.path() + "/TS"));
}

// ---------------------------------------------------------------------------------------------
// The parameters panel.

class TestParamsPanel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void panelBeforeTheFirstPick();
    void panelShowsTheCurrentNode_data();
    void panelShowsTheCurrentNode();
    void savesOneVehicle();
    void savesThreeVehiclesWithCtrl();
    void savesTheRolesOfAWholeNode_data();
    void savesTheRolesOfAWholeNode();
    void groupNodeAndVehicleSaveOnlyTheVehicle();
    void changingTheGroupEmptiesTheSubgroup();
    void emptyGroupBoxStoresZero();
    void refusedWriteStopsTheSave();

private:
    QString cars() const { return dir_.path() + "/TS/Cars.ini"; }
    QTemporaryDir dir_;
};

void TestParamsPanel::init() {
    QVERIFY(ensureServer());
    QVERIFY(dir_.isValid());
    kp::setAppDirForTests(dir_.path());
    QDir(dir_.path() + "/TS").removeRecursively();
    writeFixtureConfig(dir_.path());
}

void TestParamsPanel::panelBeforeTheFirstPick() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->setFocus(Qt::TabFocusReason); // the focus alone picks nothing
    QTest::qWait(20);
    QVERIFY(!t->currentIndex().isValid());
    for (QComboBox *c : {w->cmbGroup, w->cmbSubGroup, w->cmbD1, w->cmbD2, w->cmbD3, w->cmbD4}) {
        QVERIFY(c->isEnabled());
        QCOMPARE(c->currentIndex(), -1);
    }
    QTest::keyClick(t, Qt::Key_Down); // the first movement picks the first node
    QCOMPARE(t->selectedInOrder(), QList<QModelIndex>{node(t, "@0")});
    QVERIFY(!w->cmbGroup->isEnabled());
    QCOMPARE(w->cmbD1->currentIndex(), 0);
}

void TestParamsPanel::panelShowsTheCurrentNode_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("groupEnabled");
    QTest::addColumn<int>("group");
    QTest::addColumn<QStringList>("subgroups");
    QTest::addColumn<int>("subgroup");
    QTest::addColumn<QList<int>>("roles"); // positions in the role boxes, -1 for none
    QTest::newRow("vehicle with group, subgroup, roles; a role outside 1..4 shows none")
        << "@2/@0/#101" << true << 1 << QStringList{"Утро", "Вечер"} << 0
        << QList<int>{1, 2, -1, 0};
    QTest::newRow("vehicle without a section")
        << "@0/#7" << true << -1 << QStringList{} << -1 << QList<int>{0, 0, 0, 0};
    QTest::newRow("vehicle with a subgroup above the count")
        << "@2/#102" << true << 1 << QStringList{"Утро", "Вечер"} << -1 << QList<int>{0, 0, 0, 0};
    QTest::newRow("vehicle with a group above the count")
        << "@0/#103" << true << -1 << QStringList{} << -1 << QList<int>{0, 0, 0, 0};
    QTest::newRow("group node") << "@2" << false << -1 << QStringList{} << -1
                                << QList<int>{0, 0, 0, 0};
    QTest::newRow("subgroup node")
        << "@2/@1" << false << -1 << QStringList{} << -1 << QList<int>{0, 0, 0, 0};
    QTest::newRow("default node") << "@0" << false << -1 << QStringList{} << -1
                                  << QList<int>{0, 0, 0, 0};
}

void TestParamsPanel::panelShowsTheCurrentNode() {
    QFETCH(QString, path);
    QFETCH(bool, groupEnabled);
    QFETCH(int, group);
    QFETCH(QStringList, subgroups);
    QFETCH(int, subgroup);
    QFETCH(QList<int>, roles);
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    // First a vehicle with everything set (group 2, roles 4 4 4 4), so that every box changes.
    clickNode(t, node(t, "@2/#204"));
    QCOMPARE(w->cmbD1->currentIndex(), 3);
    clickNode(t, node(t, path));
    QCOMPARE(w->cmbGroup->isEnabled(), groupEnabled);
    QCOMPARE(w->cmbSubGroup->isEnabled(), groupEnabled);
    QCOMPARE(w->cmbGroup->currentIndex(), group);
    if (groupEnabled) {
        QStringList items;
        for (int i = 0; i < w->cmbSubGroup->count(); ++i)
            items << w->cmbSubGroup->itemText(i);
        QCOMPARE(items, subgroups);
    }
    QCOMPARE(w->cmbSubGroup->currentIndex(), subgroup);
    QComboBox *boxes[4] = {w->cmbD1, w->cmbD2, w->cmbD3, w->cmbD4};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(boxes[i]->isEnabled());
        QCOMPARE(boxes[i]->currentIndex(), roles.at(i));
    }
}

void TestParamsPanel::savesOneVehicle() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@0/#7"));
    chooseByKeys(w->cmbGroup, 1); // "Юг"
    QCOMPARE(w->cmbSubGroup->count(), 2);
    QCOMPARE(w->cmbSubGroup->currentIndex(), -1);
    chooseByKeys(w->cmbSubGroup, 0); // "Утро"
    chooseByKeys(w->cmbD1, 1);       // "Входящие"
    chooseByKeys(w->cmbD2, 2);       // "Выходящие"
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    // A new section, its keys in the order of the writes.
    QCOMPARE(sectionLines(cars(), "7"),
             (QStringList{"Group1=2", "Group2=1", "D1=2", "D2=3", "D3=1", "D4=1"}));
    // Rebuilt: the vehicle is in its new subgroup, in the server's order.
    QCOMPARE(whereIs(t, 7), QStringLiteral("Юг@2/Утро@0"));
    QCOMPARE(childTexts(t, node(t, "@2/@0")), (QStringList{"00007", "ПАЗ-3205 - АС 101 63"}));
    QVERIFY(!t->isExpanded(node(t, "@2")));
    QVERIFY(t->selectedInOrder().isEmpty());
    // The group list is reloaded with nothing chosen; the role boxes keep what they showed.
    QCOMPARE(w->cmbGroup->count(), 4);
    QCOMPARE(w->cmbGroup->currentIndex(), -1);
    QCOMPARE(w->cmbSubGroup->count(), 0);
    QCOMPARE(w->cmbD1->currentIndex(), 1);
    QCOMPARE(w->cmbD2->currentIndex(), 2);
}

void TestParamsPanel::savesThreeVehiclesWithCtrl() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@0/#7"));
    clickNode(t, node(t, "@0/#103"), Qt::ControlModifier);
    clickNode(t, node(t, "@4/#202"), Qt::ControlModifier);
    // The panel shows the last clicked vehicle: group 4, no subgroup.
    QCOMPARE(w->cmbGroup->currentIndex(), 3);
    QCOMPARE(w->cmbSubGroup->currentIndex(), -1);
    chooseByKeys(w->cmbD4, 3); // "Перевезённые"
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    for (int device : {7, 103, 202}) {
        QCOMPARE(sectionLines(cars(), QString::number(device)),
                 (QStringList{"Group1=4", "Group2=0", "D1=1", "D2=1", "D3=1", "D4=4"}));
        QCOMPARE(whereIs(t, device), QStringLiteral("По умолчанию@4"));
    }
    QCOMPARE(iniInt(cars(), 101, "D1"), 2); // not selected, not written
}

void TestParamsPanel::savesTheRolesOfAWholeNode_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("box");      // role box 0..3
    QTest::addColumn<int>("position"); // item chosen in it
    QTest::addColumn<QList<int>>("written");
    QTest::addColumn<QList<int>>("roles"); // D1..D4 every written vehicle gets
    QTest::newRow("group node: its subgroups' vehicles and its own")
        << "@2" << 0 << 3 << QList<int>{101, 123456, 102, 204} << QList<int>{4, 1, 1, 1};
    QTest::newRow("default node: also vehicles without a section")
        << "@0" << 1 << 1 << QList<int>{7, 103, -42} << QList<int>{1, 2, 1, 1};
    QTest::newRow("subgroup node")
        << "@2/@1" << 2 << 2 << QList<int>{123456} << QList<int>{1, 1, 3, 1};
}

void TestParamsPanel::savesTheRolesOfAWholeNode() {
    QFETCH(QString, path);
    QFETCH(int, box);
    QFETCH(int, position);
    QFETCH(QList<int>, written);
    QFETCH(QList<int>, roles);
    const QMap<int, QPair<int, int>> placement{
        {101, {2, 1}}, {123456, {2, 2}}, {102, {2, 3}}, {204, {2, 0}}, {103, {5, -99}}};
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, path));
    QComboBox *boxes[4] = {w->cmbD1, w->cmbD2, w->cmbD3, w->cmbD4};
    chooseByKeys(boxes[box], position);
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    for (int device : written) {
        for (int i = 0; i < 4; ++i)
            QCOMPARE(iniInt(cars(), device, qPrintable(QStringLiteral("D%1").arg(i + 1))),
                     roles.at(i));
        // Group and subgroup are not written: what was there stays, what was not stays missing.
        const auto was = placement.value(device, {-99, -99});
        QCOMPARE(iniInt(cars(), device, "Group1"), was.first);
        QCOMPARE(iniInt(cars(), device, "Group2"), was.second);
    }
    QCOMPARE(iniInt(cars(), 201, "D1"), -99); // outside the node: untouched
    if (written.contains(7)) {
        QCOMPARE(sectionLines(cars(), "7"), (QStringList{"D1=1", "D2=2", "D3=1", "D4=1"}));
        QCOMPARE(whereIs(t, 7), QStringLiteral("По умолчанию@0"));
    }
}

void TestParamsPanel::groupNodeAndVehicleSaveOnlyTheVehicle() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@2"));
    clickNode(t, node(t, "@3/#201"), Qt::ControlModifier);
    QVERIFY(w->cmbGroup->isEnabled());
    QCOMPARE(w->cmbGroup->currentIndex(), 2);
    chooseByKeys(w->cmbD3, 1);
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    QCOMPARE(sectionLines(cars(), "201"),
             (QStringList{"Group1=3", "Group2=0", "D1=1", "D2=1", "D3=2", "D4=1"}));
    QCOMPARE(iniInt(cars(), 101, "D1"), 2);
    QCOMPARE(iniInt(cars(), 204, "D3"), 4);
    QCOMPARE(iniInt(cars(), 102, "D1"), -99);
}

void TestParamsPanel::changingTheGroupEmptiesTheSubgroup() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@2/@0/#101"));
    QCOMPARE(w->cmbSubGroup->currentIndex(), 0);
    chooseByKeys(w->cmbGroup, 0); // "Север", whose one subgroup is "Пустая"
    QCOMPARE(w->cmbSubGroup->count(), 1);
    QCOMPARE(w->cmbSubGroup->itemText(0), QStringLiteral("Пустая"));
    QCOMPARE(w->cmbSubGroup->currentIndex(), -1);
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    QCOMPARE(iniInt(cars(), 101, "Group1"), 1);
    QCOMPARE(iniInt(cars(), 101, "Group2"), 0);
    QCOMPARE(iniInt(cars(), 101, "D3"), 0); // a role box with nothing chosen stores 0
    QCOMPARE(whereIs(t, 101), QStringLiteral("Север@1"));
    QCOMPARE(childTexts(t, node(t, "@1")), (QStringList{"Пустая", "ПАЗ-3205 - АС 101 63"}));
}

void TestParamsPanel::emptyGroupBoxStoresZero() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@0/#103")); // group 5 of four: the box shows nothing
    QCOMPARE(w->cmbGroup->currentIndex(), -1);
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    QCOMPARE(iniInt(cars(), 103, "Group1"), 0);
    QCOMPARE(iniInt(cars(), 103, "Group2"), 0);
    QCOMPARE(whereIs(t, 103), QStringLiteral("По умолчанию@0"));
}

void TestParamsPanel::refusedWriteStopsTheSave() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@0/#7"));
    clickNode(t, node(t, "@2/#204"), Qt::ControlModifier);
    const QByteArray before = readFile(cars());
    QVERIFY(QFile::setPermissions(cars(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    ModalAnswerer boxes;
    QTest::mouseClick(w->btnChangeParams, Qt::LeftButton);
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.seen().at(0).objectName, QStringLiteral("ExceptionBox"));
    QCOMPARE(boxes.seen().at(0).text, "Unable to write to " + cars());
    QCOMPARE(readFile(cars()), before);
    // The tree is not rebuilt: the selection and the expansion are still there.
    QCOMPARE(devices(*w), (QList<int>{7, 204}));
    QVERIFY(t->isExpanded(node(t, "@2")));
    QFile::setPermissions(cars(), QFile::ReadOwner | QFile::WriteOwner);
}

// ---------------------------------------------------------------------------------------------
// The group list editor.

class TestGroupEditor : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void editorOpensWithNothingSelected();
    void nameDialogTexts_data();
    void nameDialogTexts();
    void addsAGroup();
    void renamesAGroup();
    void addsSubgroups_data();
    void addsSubgroups();
    void renamesASubgroup();
    void emptyNameIsRefused();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void enterDoesNotConfirm();
    void closingWithoutChangesRebuildsTheTree();

private:
    QString groups() const { return dir_.path() + "/TS/GroupLVL1.ini"; }
    QString subgroups() const { return dir_.path() + "/TS/GroupLVL2.ini"; }
    // Opens the editor from the menu and runs script inside it; the script closes it.
    void withEditor(TForm1 &w, std::function<void(TForm2 *)> script);
    // Presses button of the editor and answers its name dialog with act.
    static void answerName(QPushButton *button, std::function<void(TForm3 *)> act);
    static void confirmName(QPushButton *button, const QString &name);

    QTemporaryDir dir_;
    std::unique_ptr<ModalAnswerer> boxes_;
};

void TestGroupEditor::init() {
    QVERIFY(ensureServer());
    QVERIFY(dir_.isValid());
    kp::setAppDirForTests(dir_.path());
    QDir(dir_.path() + "/TS").removeRecursively();
    writeFixtureConfig(dir_.path());
    resetScript();
    boxes_ = std::make_unique<ModalAnswerer>();
    leaveScriptedDialogs(*boxes_);
}

void TestGroupEditor::cleanup() {
    QVERIFY(!scriptFailed());
    boxes_.reset();
}

void TestGroupEditor::withEditor(TForm1 &w, std::function<void(TForm2 *)> script) {
    whenModal("TForm2", [script](QWidget *f) {
        auto *editor = static_cast<TForm2 *>(f);
        script(editor);
        if (editor->isVisible()) editor->close();
    });
    w.N2->trigger(); // returns when the editor has closed and the tree is rebuilt
}

void TestGroupEditor::answerName(QPushButton *button, std::function<void(TForm3 *)> act) {
    whenModal("TForm3", [act](QWidget *d) { act(static_cast<TForm3 *>(d)); });
    QTest::mouseClick(button, Qt::LeftButton); // returns when the dialog has closed
}

void TestGroupEditor::confirmName(QPushButton *button, const QString &name) {
    answerName(button, [name](TForm3 *d) {
        d->Edit1->setFocus();
        d->Edit1->selectAll();
        typeText(d->Edit1, name);
        QTest::mouseClick(d->Button1, Qt::LeftButton);
    });
}

void TestGroupEditor::editorOpensWithNothingSelected() {
    auto w = startWindow();
    QString title;
    QSize size;
    QStringList items, subItems;
    int current = -2, subCurrent = -2;
    QList<bool> atOpen, afterGroup, afterSubgroup; // add group, change group, add sub, change sub
    auto state = [](TForm2 *f) {
        return QList<bool>{f->btnAddGroup->isEnabled(), f->btnChangeGroup->isEnabled(),
                           f->btnAddSubGroup->isEnabled(), f->btnChangeSubGroup->isEnabled()};
    };
    QList<QRect> places;
    withEditor(*w, [&](TForm2 *f) {
        title = f->windowTitle();
        size = f->size();
        for (QWidget *c : std::initializer_list<QWidget *>{f->cmbGroup, f->cmbSubGroup,
                                                           f->btnAddGroup, f->btnChangeGroup,
                                                           f->btnChangeSubGroup, f->btnAddSubGroup})
            places << c->geometry();
        for (int i = 0; i < f->cmbGroup->count(); ++i)
            items << f->cmbGroup->itemText(i);
        current = f->cmbGroup->currentIndex();
        atOpen = state(f);
        chooseByKeys(f->cmbGroup, 1);
        for (int i = 0; i < f->cmbSubGroup->count(); ++i)
            subItems << f->cmbSubGroup->itemText(i);
        subCurrent = f->cmbSubGroup->currentIndex();
        afterGroup = state(f);
        chooseByKeys(f->cmbSubGroup, 1);
        afterSubgroup = state(f);
    });
    QCOMPARE(title, QStringLiteral("Редактирование списка групп"));
    QCOMPARE(size, QSize(239, 159));
    QCOMPARE(places, (QList<QRect>{QRect(88, 17, 125, 21), QRect(88, 89, 125, 21),
                                   QRect(22, 44, 85, 25), QRect(128, 44, 85, 25),
                                   QRect(128, 116, 85, 25), QRect(22, 116, 85, 25)}));
    QCOMPARE(items, (QStringList{"Север", "Юг", "Север", "По умолчанию"}));
    QCOMPARE(current, -1);
    QCOMPARE(atOpen, (QList<bool>{true, false, false, false}));
    QCOMPARE(subItems, (QStringList{"Утро", "Вечер"}));
    QCOMPARE(subCurrent, -1);
    QCOMPARE(afterGroup, (QList<bool>{true, true, true, false}));
    QCOMPARE(afterSubgroup, (QList<bool>{true, true, true, true}));
    QVERIFY(Form2 == nullptr); // released after the rebuild
}

void TestGroupEditor::nameDialogTexts_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("confirm");
    QTest::newRow("add group") << "btnAddGroup"
                               << "Добавление новой группы"
                               << ""
                               << "Добавить";
    QTest::newRow("rename group") << "btnChangeGroup"
                                  << "Изменение группы"
                                  << "Юг"
                                  << "Изменить";
    QTest::newRow("add subgroup") << "btnAddSubGroup"
                                  << "Добавление новой подгруппы"
                                  << ""
                                  << "Добавить";
    QTest::newRow("rename subgroup") << "btnChangeSubGroup"
                                     << "Изменение подгруппы"
                                     << "Вечер"
                                     << "Изменить";
}

void TestGroupEditor::nameDialogTexts() {
    QFETCH(QString, button);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(QString, confirm);
    auto w = startWindow();
    QStringList seen;
    QSize size;
    bool noDefault = false;
    withEditor(*w, [&](TForm2 *f) {
        chooseByKeys(f->cmbGroup, 1);
        chooseByKeys(f->cmbSubGroup, 1);
        answerName(f->findChild<QPushButton *>(button), [&](TForm3 *d) {
            seen << d->windowTitle() << d->Edit1->text() << d->Button1->text()
                 << d->Button2->text();
            size = d->size();
            noDefault = !d->Button1->isDefault() && !d->Button2->isDefault() &&
                        !d->Button1->autoDefault() && !d->Button2->autoDefault();
            QTest::mouseClick(d->Button2, Qt::LeftButton);
        });
    });
    QCOMPARE(seen, (QStringList{caption, text, confirm, "Отмена"}));
    QCOMPARE(size, QSize(238, 100));
    QVERIFY(noDefault);
}

void TestGroupEditor::addsAGroup() {
    auto w = startWindow();
    int count = -1, current = -2, subCount = -1;
    bool changeEnabled = true;
    withEditor(*w, [&](TForm2 *f) {
        chooseByKeys(f->cmbGroup, 1);
        confirmName(f->btnAddGroup, "Запад");
        count = f->cmbGroup->count();
        current = f->cmbGroup->currentIndex();
        subCount = f->cmbSubGroup->count();
        changeEnabled = f->btnChangeGroup->isEnabled() || f->btnAddSubGroup->isEnabled();
    });
    const kp::config::IniFile g(groups());
    QCOMPARE(g.readInteger("Groups", "count", -1), 5);
    QCOMPARE(g.readString("Groups", "5", "?"), QStringLiteral("Запад"));
    QCOMPARE(count, 5);
    QCOMPARE(current, -1);
    QCOMPARE(subCount, 0);
    QVERIFY(!changeEnabled);
    // The tree and the panel's group list are rebuilt when the editor closes.
    QCOMPARE(childTexts(w->trvCars, {}).last(), QStringLiteral("Запад"));
    QCOMPARE(w->cmbGroup->count(), 5);
}

void TestGroupEditor::renamesAGroup() {
    auto w = startWindow();
    const QByteArray before = readFile(groups());
    const QByteArray subsBefore = readFile(subgroups());
    withEditor(*w, [&](TForm2 *f) {
        chooseByKeys(f->cmbGroup, 1);
        confirmName(f->btnChangeGroup, "Южная");
    });
    QCOMPARE(readFile(groups()), QByteArray(before).replace("2=Юг", "2=Южная"));
    QCOMPARE(readFile(subgroups()), subsBefore);
    // Its vehicles follow it under the new name.
    QCOMPARE(whereIs(w->trvCars, 101), QStringLiteral("Южная@2/Утро@0"));
}

void TestGroupEditor::addsSubgroups_data() {
    QTest::addColumn<int>("group");
    QTest::addColumn<QStringList>("section"); // the section's lines afterwards
    QTest::newRow("group with two subgroups")
        << 2 << QStringList{"count=3", "1=Утро", "2=Вечер", "3=Ночь"};
    QTest::newRow("group without a section") << 3 << QStringList{"count=1", "1=Ночь"};
}

void TestGroupEditor::addsSubgroups() {
    QFETCH(int, group);
    QFETCH(QStringList, section);
    auto w = startWindow();
    QStringList items;
    int current = -2;
    bool changeSub = true, groupStillChosen = false;
    withEditor(*w, [&](TForm2 *f) {
        chooseByKeys(f->cmbGroup, group - 1);
        confirmName(f->btnAddSubGroup, "Ночь");
        for (int i = 0; i < f->cmbSubGroup->count(); ++i)
            items << f->cmbSubGroup->itemText(i);
        current = f->cmbSubGroup->currentIndex();
        changeSub = f->btnChangeSubGroup->isEnabled();
        groupStillChosen =
            f->cmbGroup->currentIndex() == group - 1 && f->btnAddSubGroup->isEnabled();
    });
    QCOMPARE(sectionLines(subgroups(), "Group" + QString::number(group)), section);
    QCOMPARE(items, section.mid(1).replaceInStrings(QRegularExpression("^\\d+="), ""));
    QCOMPARE(current, -1);
    QVERIFY(!changeSub);
    QVERIFY(groupStillChosen);
    QCOMPARE(
        childTexts(w->trvCars, node(w->trvCars, "@" + QString::number(group))).contains("Ночь"),
        true);
}

void TestGroupEditor::renamesASubgroup() {
    auto w = startWindow();
    const QByteArray before = readFile(subgroups());
    int current = -2;
    bool changeSub = true;
    withEditor(*w, [&](TForm2 *f) {
        chooseByKeys(f->cmbGroup, 1);
        chooseByKeys(f->cmbSubGroup, 0);
        confirmName(f->btnChangeSubGroup, "Рассвет");
        current = f->cmbSubGroup->currentIndex();
        changeSub = f->btnChangeSubGroup->isEnabled();
    });
    QCOMPARE(readFile(subgroups()), QByteArray(before).replace("1=Утро", "1=Рассвет"));
    QCOMPARE(current, -1);
    QVERIFY(!changeSub);
    QCOMPARE(whereIs(w->trvCars, 101), QStringLiteral("Юг@2/Рассвет@0"));
}

void TestGroupEditor::emptyNameIsRefused() {
    auto w = startWindow();
    withEditor(*w, [&](TForm2 *f) {
        confirmName(f->btnAddGroup, "");
        confirmName(f->btnAddGroup, "Запад");
        confirmName(f->btnAddGroup, ""); // right after a successful add: NewName starts empty
        chooseByKeys(f->cmbGroup, 0);
        answerName(f->btnChangeGroup, [](TForm3 *d) {
            d->Edit1->clear();
            QTest::mouseClick(d->Button1, Qt::LeftButton);
        });
    });
    QCOMPARE(boxes_->count(), 3);
    for (const SeenBox &b : boxes_->seen()) {
        QCOMPARE(b.text, QStringLiteral("Новое имя не может быть пустым"));
        QCOMPARE(b.title, QString());
        QCOMPARE(b.buttons, QStringList{"OK"});
    }
    const kp::config::IniFile g(groups());
    QCOMPARE(g.readInteger("Groups", "count", -1), 5);
    QCOMPARE(g.readString("Groups", "1", "?"), QStringLiteral("Север"));
}

void TestGroupEditor::cancelWritesNothing_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Отмена") << false;
    QTest::newRow("Esc") << true;
}

void TestGroupEditor::cancelWritesNothing() {
    QFETCH(bool, escape);
    auto w = startWindow();
    const QByteArray g = readFile(groups()), s = readFile(subgroups());
    auto cancel = [escape](TForm3 *d) {
        d->Edit1->setFocus();
        typeText(d->Edit1, "Новая");
        if (escape)
            QTest::keyClick(d->Edit1, Qt::Key_Escape);
        else
            QTest::mouseClick(d->Button2, Qt::LeftButton);
    };
    QString pending = "?";
    withEditor(*w, [&](TForm2 *f) {
        answerName(f->btnAddGroup, cancel);
        chooseByKeys(f->cmbGroup, 1);
        answerName(f->btnChangeGroup, cancel);
        chooseByKeys(f->cmbGroup, 1);
        answerName(f->btnAddSubGroup, cancel);
        chooseByKeys(f->cmbSubGroup, 0);
        answerName(f->btnChangeSubGroup, cancel);
        pending = f->NewName;
    });
    QCOMPARE(readFile(groups()), g);
    QCOMPARE(readFile(subgroups()), s);
    QCOMPARE(pending, QString());
    QCOMPARE(boxes_->count(), 0);
}

void TestGroupEditor::enterDoesNotConfirm() {
    auto w = startWindow();
    const QByteArray g = readFile(groups());
    bool stillOpen = false;
    withEditor(*w, [&](TForm2 *f) {
        answerName(f->btnAddGroup, [&](TForm3 *d) {
            d->Edit1->setFocus();
            typeText(d->Edit1, "Восток");
            QTest::keyClick(d->Edit1, Qt::Key_Return);
            QTest::keyClick(d->Edit1, Qt::Key_Enter);
            stillOpen = d->isVisible();
            QTest::mouseClick(d->Button2, Qt::LeftButton);
        });
    });
    QVERIFY(stillOpen);
    QCOMPARE(readFile(groups()), g);
}

void TestGroupEditor::closingWithoutChangesRebuildsTheTree() {
    auto w = startWindow();
    TCarsTreeView *t = w->trvCars;
    t->expandAll();
    clickNode(t, node(t, "@0/#7"));
    // A hand edit since the last fill shows after the editor closes.
    writeFile(dir_.path() + "/TS/Cars.ini",
              readFile(dir_.path() + "/TS/Cars.ini") + "[7]\r\nGroup1=3\r\n");
    withEditor(*w, [](TForm2 *f) { QTest::keyClick(f, Qt::Key_Escape); });
    QCOMPARE(whereIs(t, 7), QStringLiteral("Север@3"));
    QVERIFY(t->selectedInOrder().isEmpty());
    QVERIFY(!t->isExpanded(node(t, "@0")));
    QVERIFY(!t->isExpanded(node(t, "@3")));
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    int rc = 0;
    {
        TestFleetTree t;
        rc |= QTest::qExec(&t, argc, argv);
    }
    {
        TestParamsPanel t;
        rc |= QTest::qExec(&t, argc, argv);
    }
    {
        TestGroupEditor t;
        rc |= QTest::qExec(&t, argc, argv);
    }
    server().stop();
    return rc;
}

#include "TestFleetTree.moc"
