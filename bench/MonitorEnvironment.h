// What the benchmarks against kelvon-monitor share: a private session bus, a server on it with
// its own data folder, and the run of the registered benchmarks.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace kp::bench {

// Writes the file whole, creating its folder.
bool writeFile(const QString &path, const QByteArray &bytes);

// The header line of a fleet import.
QByteArray fleetHeader();
// One vehicle of a generated fleet: car c of depot g, with its device number and drivers.
QByteArray fleetVehicle(int g, int c, int device, const QString &drivers);

class MonitorEnvironment {
public:
    MonitorEnvironment();
    ~MonitorEnvironment(); // the server and the bus end with the object
    MonitorEnvironment(const MonitorEnvironment &) = delete;
    MonitorEnvironment &operator=(const MonitorEnvironment &) = delete;

    // A path inside the environment's own temporary folder.
    QString path(const QString &name) const;

    // Starts a private session bus and points this process at it.
    bool startBus();
    // Imports a CSV file into the server's data ("fleet" or "records"), before the server runs.
    bool import(const QString &what, const QByteArray &csv);
    // Starts the server on the bus and waits until it owns its name.
    bool startServer();

private:
    QTemporaryDir dir_;
    QString monitor_;
    QProcess bus_;
    QProcess server_;
};

// Runs the registered benchmarks after setUp() succeeded; tearDown() runs before the return.
int runBenchmarks(int argc, char **argv, const char *name, const std::function<bool()> &setUp,
                  const std::function<void()> &tearDown);

} // namespace kp::bench
