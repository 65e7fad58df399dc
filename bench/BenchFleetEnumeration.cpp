// The fleet enumeration of the tree fill through the client, against a kelvon-monitor with an
// imported fleet of 1,000 vehicles (10 groups of 100): 13 calls a vehicle (CarIndex and twelve
// reads). The target is 2 s for the whole fleet; one call after another cannot get there, the
// pipelined reads of one vehicle can. The benchmark runs its own session bus.
#include "MonitorEnvironment.h"
#include "server/Kelvon_ocx.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kGroups = 10;
constexpr int kCarsPerGroup = 100;

std::unique_ptr<kp::bench::MonitorEnvironment> env;

bool setUp() {
    env = std::make_unique<kp::bench::MonitorEnvironment>();
    if (!env->startBus()) return false;
    QByteArray csv = kp::bench::fleetHeader();
    for (int g = 1; g <= kGroups; ++g) {
        for (int c = 1; c <= kCarsPerGroup; ++c) {
            const int device = 100000 + g * 1000 + c;
            csv +=
                kp::bench::fleetVehicle(g, c, device, QStringLiteral("Иванов И. И.; Петров П. П."));
        }
    }
    return env->import(QStringLiteral("fleet"), csv) && env->startServer();
}

void BM_OneCall(benchmark::State &state) {
    TKelvonAutomation a;
    a.get_GroupsNum();
    for (auto _ : state)
        benchmark::DoNotOptimize(a.get_GroupsNum());
}

void BM_FleetEnumerationPipelined(benchmark::State &state) {
    TKelvonAutomation a;
    int vehicles = 0;
    for (auto _ : state) {
        vehicles = 0;
        const int groups = a.get_GroupsNum();
        for (int g = 1; g <= groups; ++g) {
            const int cars = a.ReadGroupCarsNum(g);
            for (int c = 1; c <= cars; ++c) {
                const TCarReads r = a.ReadCar(c);
                benchmark::DoNotOptimize(r.CarDevice);
                ++vehicles;
            }
        }
    }
    state.counters["vehicles"] = vehicles;
    if (vehicles != kGroups * kCarsPerGroup) state.SkipWithError("the fleet is incomplete");
}

void BM_FleetEnumerationOneByOne(benchmark::State &state) {
    TKelvonAutomation a;
    int vehicles = 0;
    for (auto _ : state) {
        vehicles = 0;
        const int groups = a.get_GroupsNum();
        for (int g = 1; g <= groups; ++g) {
            a.set_GroupIndex(g);
            const int cars = a.get_GroupCarsNum();
            for (int c = 1; c <= cars; ++c) {
                a.set_CarIndex(c);
                benchmark::DoNotOptimize(a.get_CarDevice());
                a.get_CarModel();
                a.get_CarNumber();
                a.get_CarRoute();
                a.get_CarDrivers();
                a.get_CarAlias();
                a.get_CarTelNum();
                a.get_CarCheckPointsFile();
                a.get_GroupName();
                a.get_GroupAddress();
                a.get_GroupContacts();
                a.get_GroupFileName();
                ++vehicles;
            }
        }
    }
    state.counters["vehicles"] = vehicles;
}

} // namespace

BENCHMARK(BM_OneCall)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FleetEnumerationPipelined)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FleetEnumerationOneByOne)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    return kp::bench::runBenchmarks(argc, argv, "bench-fleet-enumeration", setUp,
                                    [] { env.reset(); });
}
