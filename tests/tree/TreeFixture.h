// What the fleet tree tests share: a kelvon-monitor serving the imported fleet of fleet.csv on
// the test's private bus, the configuration files of the fixture, finding and clicking nodes of
// the tree, choosing items of a drop-down list by keyboard, and scripting nested modal dialogs.
#pragma once

#include <QApplication>
#include <QModelIndex>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

class QComboBox;
class QWidget;
class TForm1;
class TCarsTreeView;

namespace kp::test {

// The monitoring server of the tests, with the fleet of fleet.csv imported into its own folder.
class FleetServer {
public:
    ~FleetServer();
    // Imports fleet.csv (once) and starts the server with extra options; waits for its bus name.
    bool start(const QStringList &extraArgs = {});
    void stop();
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    // Imports another fleet file into the server's folder (the server reloads it).
    static bool importFleet(const QString &dataDir, const QString &csvPath);

private:
    QTemporaryDir data_;
    bool imported_ = false;
    QProcess proc_;
};

// Writes a file as is (UTF-8), creating the folder.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// The fixture's group files and Cars.ini in appDir/TS:
//   groups: 1 "Север" (subgroup "Пустая"), 2 "Юг" (subgroups "Утро", "Вечер"), 3 "Север",
//   4 "По умолчанию"; Cars.ini places the vehicles of fleet.csv (see TestFleetTree).
void writeFixtureConfig(const QString &appDir);

// A node by path from the top: each step is a node text (first match), "@row" (row number), or
// "#device" (the vehicle node with that device number). Invalid when not found.
QModelIndex node(const TCarsTreeView *tree, const QString &path);
// Where a vehicle lies: its ancestors as "text@row" joined by "/", e.g. "Юг@2/Утро@0"; empty when
// it is not in the tree.
QString whereIs(const TCarsTreeView *tree, int device);
// Texts of a node's children in order.
QStringList childTexts(const TCarsTreeView *tree, const QModelIndex &parent);
// Device numbers of a selection's vehicles, in order.
QList<int> devices(const TForm1 &w);

// A click on a node as the operator makes it: the node is scrolled into view first.
void clickNode(TCarsTreeView *tree, const QModelIndex &index,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Chooses the item at position of a closed drop-down list with the keyboard (Home, then Down).
void chooseByKeys(QComboBox *box, int position);
// Types text (Cyrillic included) into the focused widget w.
void typeText(QWidget *w, const QString &text);

// Runs fn once a visible modal widget of class T is active. Each step has a timer of its own, so
// a step may open the next dialog modally and the next step still runs. A step that never comes
// sets scriptFailed() and closes every modal widget, so that no test hangs.
void whenModal(const char *className, std::function<void(QWidget *)> fn, int timeoutMs = 10000);
bool scriptFailed();
void resetScript();

} // namespace kp::test
