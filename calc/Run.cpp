#include "Run.h"

#include "Counting.h"
#include "Intervals.h"
#include "Statements.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Formats.h"
#include "platform/localsql/Query.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>

namespace kp::calc {

namespace {
QString messageOf(const std::exception &e) {
    if (auto *k = dynamic_cast<const kp::Exception *>(&e)) return k->message();
    return QString::fromLocal8Bit(e.what());
}

bool isCountingRole(int role) {
    return role == RoleEntering || role == RoleLeaving || role == RoleCarried;
}

// The export kind of an input: inputs 1 and 2 come in one list, 3 and 4 in the other.
QString exportKind(int input) {
    return input <= 2 ? QStringLiteral("num12") : QStringLiteral("num34");
}

// Adds the time of f() to the figure, whichever way f ends.
template <class F> auto timed(std::int64_t &figure, F &&f) {
    struct Add {
        std::int64_t &figure;
        QElapsedTimer t;
        ~Add() { figure += t.nsecsElapsed(); }
    } add{figure, {}};
    add.t.start();
    return f();
}

// The run's own client goes when the run ends, whichever way it ends.
struct ReleaseAutomation {
    std::unique_ptr<CounterServer> &server;
    ~ReleaseAutomation() { server.reset(); }
};
} // namespace

QString vehicleLabel(const RunVehicle &v) {
    QString label = v.model;
    if (!v.number.isEmpty()) label += QStringLiteral(" - ") + v.number;
    if (label.isEmpty()) label = QString::number(v.device);
    return label;
}

QString noCountedInputMessage() {
    return QStringLiteral("К данному ТС не подключен ни один датчик");
}

Calculation::Calculation(RunSettings settings, RunObserver &observer,
                         std::function<bool()> cancelled, ServerFactory server,
                         RoleSourceFactory roles)
    : settings_(std::move(settings)), observer_(observer), cancelled_(std::move(cancelled)),
      makeServer_(std::move(server)), makeRoles_(std::move(roles)) {}

Calculation::~Calculation() = default;

void Calculation::RunCalculation() {
    // 1. Cancelled before the run began: the previous result table stays as it is.
    if (cancelled()) return;
    ReleaseAutomation release{Automation};
    std::int64_t intervals = 0;
    double periodStart = 0;
    double periodEnd = 0;
    try {
        // 2. The run's own client; it connects at its first use.
        Automation = makeServer_();
        // 3.
        resultPath_ = settings_.workDir + QStringLiteral("/result.dbf");
        tempPath_ = settings_.workDir + QStringLiteral("/temp.dbf");
        // 4. Only the date of a date picker and only the time of a time picker count.
        periodStart = kp::toSerial(settings_.dateBegin, settings_.timeBegin);
        periodEnd = kp::toSerial(settings_.dateEnd, settings_.timeEnd);
        // 5., 6.
        IntervalsPerDay = settings_.intervalsPerDay;
        intervals = intervalCount(periodStart, periodEnd, IntervalsPerDay);
        // 7.
        observer_.detachDisplay();
        // 8. A failed deletion shows as the failed creation below.
        QFile::remove(resultPath_);
        // 9.
        CarList.clear();
        for (const RunVehicle &v : settings_.vehicles)
            CarList << QString::number(v.device);
        observer_.selectionTaken(CarList);
    } catch (const std::exception &e) {
        failures_.append({QString(), messageOf(e)});
        return;
    }
    // 10., 11.
    try {
        kp::localsql::Query create;
        create.setSql(createResultTableSql(resultPath_, CarList));
        create.execSql();
    } catch (const std::exception &e) {
        failures_.append(
            {QString(), QStringLiteral("Таблица результатов не создана: ") + messageOf(e)});
        return;
    }
    // 12. One vehicle's failure ends only that vehicle's work.
    for (const RunVehicle &v : settings_.vehicles) {
        if (cancelled()) break;
        try {
            ProcessCar(v, intervals, periodStart, periodEnd);
        } catch (const std::exception &e) {
            failures_.append({vehicleLabel(v), messageOf(e)});
        }
    }
}

void Calculation::ProcessCar(const RunVehicle &vehicle, std::int64_t intervals, double periodStart,
                             double periodEnd) {
    // 1. Every read of a role goes to the file.
    const std::unique_ptr<RoleSource> roles =
        makeRoles_(settings_.workDir + QStringLiteral("/TS/Cars.ini"));
    // 2.
    timed(timings_.serverNs, [&] { Automation->SetGroupIndexByFileName(vehicle.groupFileName); });
    // A vehicle none of whose inputs counts passengers is not computed at all.
    int role[4];
    bool anyCounted = false;
    for (int i = 0; i < 4; ++i) {
        role[i] = roles->role(vehicle.device, i + 1);
        anyCounted = anyCounted || isCountingRole(role[i]);
    }
    // 3.
    const QString label = vehicleLabel(vehicle);
    if (!anyCounted) {
        failures_.append({label, noCountedInputMessage()});
        return;
    }
    // 4.
    timed(timings_.serverNs, [&] {
        Automation->StartComputing(vehicle.groupFileName, vehicle.device,
                                   kp::formatServerDateTime(periodStart),
                                   kp::formatServerDateTime(periodEnd), settings_.channel, 0);
    });
    // 5.
    observer_.statusMessage(QStringLiteral("Получение данных по ") + label);
    // 6. No time limit: a server that stays busy is waited for until the run is cancelled.
    observer_.progressRange(100);
    while (timed(timings_.serverNs, [&] { return Automation->get_ComputingBusy(); }) != 0) {
        if (cancelled()) return;
        const int percents = timed(timings_.serverNs, [&] {
            QThread::msleep(10);
            return Automation->get_ComputingPercents();
        });
        timed(timings_.updateNs, [&] { observer_.progressPosition(percents); });
    }
    // 7.
    observer_.statusMessage(QStringLiteral("Расчет по ") + label);
    // 8.
    if (timed(timings_.serverNs, [&] { return Automation->get_TripsNum(); }) <= 0) return;
    // 9. The first trip, whatever the number of trips.
    timed(timings_.serverNs, [&] { Automation->set_TripIndex(1); });
    // 10. One share of the bar per input.
    std::int64_t k = 0;
    const std::int64_t share = std::max<std::int64_t>(intervals, 0);
    const std::int64_t total = 4 * share;
    observer_.progressRange(total);
    // 11.
    for (int i = 1; i <= 4; ++i) {
        const int r = roles->role(vehicle.device, i);
        if (r == RoleNone) {
            k += share;
            continue;
        }
        timed(timings_.serverNs, [&] {
            QFile::remove(tempPath_);
            Automation->ExportListToFile(tempPath_, QStringLiteral("data_counters"), exportKind(i),
                                         1, 1);
        });
        const bool finished = timed(timings_.countingNs, [&] {
            return CountInput(vehicle.device, i, r, k, total, intervals, periodStart);
        });
        if (!finished) return;
    }
}

bool Calculation::CountInput(std::int32_t device, int input, int role, std::int64_t &k,
                             std::int64_t total, std::int64_t intervals, double periodStart) {
    InputCounter counter(role, SplitSign);
    const IntervalGrid grid(periodStart, IntervalsPerDay);
    const QString d = QString::number(device);
    kp::localsql::Query resultQuery;
    for (std::int64_t j = 0; j < intervals; ++j) {
        // 1.
        if (cancelled()) return false;
        // 2.
        timed(timings_.updateNs, [&] { observer_.intervalProgress(k, total); });
        ++k;
        // 3.
        const double t = grid.start(j);
        const QString lo = boundText(t);
        const QString hi = boundText(grid.end(j));
        // 4., 5. A query object of its own for each interval.
        const QVariant highest = timed(timings_.queryNs, [&] {
            kp::localsql::Query q;
            q.setSql(intervalMaxSql(tempPath_, input, lo, hi));
            q.open();
            return q.fieldByName(QStringLiteral("ValueC"));
        });
        // 6. Each row is in the table before the next interval is counted.
        if (const auto row = counter.next(highest)) {
            timed(timings_.insertNs, [&] {
                resultQuery.clear();
                resultQuery.setSql(
                    insertRowSql(resultPath_, role, d, dateTimeText(t, settings_.locale),
                                 displayText(t, settings_.locale), row->in, row->out));
                resultQuery.execSql();
            });
        }
    }
    return true;
}

} // namespace kp::calc
