// FillCarsTree of the main window over a fleet of 1,000 vehicles in 20 server groups, against a
// kelvon-monitor with that fleet imported, and with 20 groups of two subgroups in the group files
// and every vehicle placed by Cars.ini. The target is 2.5 s a fill; the server calls dominate
// (see bench-fleet-enumeration). The benchmark runs its own session bus and an offscreen window.
#include "MonitorEnvironment.h"
#include "app/CarsTreeView.h"
#include "app/FleetTree.h"
#include "app/Mainform.h"
#include "platform/core/AppDir.h"
#include "server/Kelvon_ocx.h"

#include <QApplication>
#include <QStandardItemModel>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kGroups = 20;
constexpr int kCarsPerGroup = 50;

std::unique_ptr<kp::bench::MonitorEnvironment> env;

bool setUp() {
    env = std::make_unique<kp::bench::MonitorEnvironment>();
    if (!env->startBus()) return false;

    // The server's fleet, and the program's groups with every vehicle placed.
    QByteArray csv = kp::bench::fleetHeader();
    QByteArray groups = "[Groups]\r\ncount=" + QByteArray::number(kGroups) + "\r\n";
    QByteArray subgroups, cars;
    for (int g = 1; g <= kGroups; ++g) {
        groups += QByteArray::number(g) + "=Группа " + QByteArray::number(g) + "\r\n";
        subgroups += "[Group" + QByteArray::number(g) + "]\r\ncount=2\r\n1=Утро\r\n2=Вечер\r\n";
        for (int c = 1; c <= kCarsPerGroup; ++c) {
            const int device = 100000 + g * 1000 + c;
            csv += kp::bench::fleetVehicle(g, c, device, QStringLiteral("Иванов И. И."));
            cars += "[" + QByteArray::number(device) +
                    "]\r\nGroup1=" + QByteArray::number(kGroups + 1 - g) +
                    "\r\nGroup2=" + QByteArray::number(c % 3) +
                    "\r\nD1=2\r\nD2=3\r\nD3=1\r\nD4=1\r\n";
        }
    }
    const QString appDir = env->path(QStringLiteral("app"));
    if (!kp::bench::writeFile(appDir + "/TS/GroupLVL1.ini", groups) ||
        !kp::bench::writeFile(appDir + "/TS/GroupLVL2.ini", subgroups) ||
        !kp::bench::writeFile(appDir + "/TS/Cars.ini", cars))
        return false;
    kp::setAppDirForTests(appDir);
    return env->import(QStringLiteral("fleet"), csv) && env->startServer();
}

int vehicleCount(const QStandardItemModel &model) {
    int n = 0;
    std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
        for (int r = 0; r < model.rowCount(parent); ++r) {
            const QModelIndex c = model.index(r, 0, parent);
            if (kp::app::carRecord(c)) ++n;
            walk(c);
        }
    };
    walk({});
    return n;
}

// The window's own fill: the group list box, the tree with its view, the collapse.
void BM_FillCarsTree(benchmark::State &state) {
    TForm1 w;
    w.Automation = new TKelvonAutomation(&w);
    w.FillCarsTree(); // connects
    for (auto _ : state)
        w.FillCarsTree();
    const int n = vehicleCount(*static_cast<QStandardItemModel *>(w.trvCars->model()));
    state.counters["vehicles"] = n;
    if (n != kGroups * kCarsPerGroup) state.SkipWithError("the fleet is incomplete");
}

// The same fill into a model no view shows: what the window adds.
void BM_FillModelWithoutView(benchmark::State &state) {
    TKelvonAutomation server;
    QStandardItemModel model;
    for (auto _ : state)
        kp::app::fillFleetTree(model, server);
    state.counters["vehicles"] = vehicleCount(model);
}

// The group and subgroup nodes alone, without server calls.
void BM_BuildTreeFromConfiguration(benchmark::State &state) {
    QStandardItemModel model;
    for (auto _ : state) {
        kp::app::FleetTreeFill fill;
        benchmark::DoNotOptimize(fill.buildGroups(model));
    }
}

} // namespace

BENCHMARK(BM_FillCarsTree)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_FillModelWithoutView)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_BuildTreeFromConfiguration)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return kp::bench::runBenchmarks(argc, argv, "bench-fleet-tree", setUp, [] { env.reset(); });
}
