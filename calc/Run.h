// One calculation run without its thread: the result table, the walk over the run's vehicles,
// the per-vehicle work with the monitoring server and the counting of each input. It reads
// nothing of the window: what it needs is copied into RunSettings when the run is started, and
// every change it makes to the window goes through RunObserver, in the order it makes them.
#pragma once

#include <QDate>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>
#include <cstdint>
#include <functional>
#include <memory>

namespace kp::calc {

// What the run uses of a vehicle node's record.
struct RunVehicle {
    std::int32_t device = 0;
    QString model;
    QString number;
    QString groupFileName;
};

// The vehicle label of the status line: the model, " - " and the number when there is one;
// the device number when both are empty.
QString vehicleLabel(const RunVehicle &v);

// What the run takes from the window when it is started.
struct RunSettings {
    QDate dateBegin;
    QTime timeBegin;
    QDate dateEnd;
    QTime timeEnd;
    double intervalsPerDay = 24;
    QString channel = QStringLiteral("GSM"); // "GSM" or "USB"
    QList<RunVehicle> vehicles;              // the vehicles of the selection, in order
    QString workDir;                         // beside the executable, no trailing separator
    QLocale locale;                          // decimal separator, date and time formats
};

// The changes the run makes to the window. The thread hands each one to the main thread.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void statusMessage(const QString &text) = 0;
    virtual void progressRange(std::int64_t maximum) = 0; // range 0..maximum, position kept
    virtual void progressPosition(std::int64_t position) = 0;
    // One counted interval: the bar at k and the detail line "(k/total)".
    virtual void intervalProgress(std::int64_t k, std::int64_t total) = 0;
    // Chart series and grid detached from their queries.
    virtual void detachDisplay() = 0;
    // The run has replaced the list of the selection's device numbers.
    virtual void selectionTaken(const QStringList &devices) = 0;
};

// The monitoring server operations of the per-vehicle work, named after the interface entries.
class CounterServer {
public:
    virtual ~CounterServer() = default;
    virtual void SetGroupIndexByFileName(const QString &groupFileName) = 0;
    virtual void StartComputing(const QString &groupFileName, std::int32_t device,
                                const QString &start, const QString &end, const QString &channel,
                                std::int32_t flags) = 0;
    virtual int get_ComputingBusy() = 0;
    virtual int get_ComputingPercents() = 0;
    virtual int get_TripsNum() = 0;
    virtual void set_TripIndex(int index) = 0;
    virtual void ExportListToFile(const QString &path, const QString &list, const QString &kind,
                                  std::int32_t a, std::int32_t b) = 0;
};

// The input roles of Cars.ini, read from the file at each call (0 when missing).
class RoleSource {
public:
    virtual ~RoleSource() = default;
    virtual int role(std::int32_t device, int input) = 0;
};

// A vehicle whose work ended with an error, or the table that could not be created (empty
// vehicle label).
struct RunFailure {
    QString vehicle;
    QString message;
};

// The text a vehicle without any counted input gets in the failure list.
QString noCountedInputMessage();

// Where the time of a run went, for the benchmarks: the calls of the monitoring server (its wait
// included), the interval queries on temp.dbf, the rows written to result.dbf, the control
// changes handed to the window, and CountInput as a whole.
struct RunTimings {
    std::int64_t serverNs = 0;
    std::int64_t queryNs = 0;
    std::int64_t insertNs = 0;
    std::int64_t updateNs = 0;
    std::int64_t countingNs = 0;
};

class Calculation {
public:
    using ServerFactory = std::function<std::unique_ptr<CounterServer>()>;
    using RoleSourceFactory = std::function<std::unique_ptr<RoleSource>(const QString &carsIni)>;

    Calculation(RunSettings settings, RunObserver &observer, std::function<bool()> cancelled,
                ServerFactory server, RoleSourceFactory roles);
    ~Calculation();

    // The whole run. Never throws: failures end the run or one vehicle's work and are listed.
    void RunCalculation();

    // Per-vehicle work; ends early when the run is cancelled.
    void ProcessCar(const RunVehicle &vehicle, std::int64_t intervals, double periodStart,
                    double periodEnd);
    // One counted input after its export; advances k by one per interval. Returns false when the
    // run was cancelled.
    bool CountInput(std::int32_t device, int input, int role, std::int64_t &k, std::int64_t total,
                    std::int64_t intervals, double periodStart);

    const QList<RunFailure> &failures() const { return failures_; }
    const RunTimings &timings() const { return timings_; }
    const QString &resultPath() const { return resultPath_; }
    const QString &tempPath() const { return tempPath_; }

    // Members of the run, as the thread declares them.
    int SplitSign = 0;
    QStringList CarList;
    double IntervalsPerDay = 24;
    std::unique_ptr<CounterServer> Automation;

private:
    bool cancelled() const { return cancelled_(); }

    RunSettings settings_;
    RunObserver &observer_;
    std::function<bool()> cancelled_;
    ServerFactory makeServer_;
    RoleSourceFactory makeRoles_;
    QString resultPath_;
    QString tempPath_;
    QList<RunFailure> failures_;
    RunTimings timings_;
};

} // namespace kp::calc
