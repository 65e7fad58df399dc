// The calculation and its display. One vehicle with four counted inputs over one week in
// one-minute intervals (10,080 intervals an input, 40,320 interval queries) against a
// kelvon-monitor with a week of records imported: the whole run through the window (target 3 s)
// and its counting part (target 1.5 s), with the split into server, queries, inserts and
// interface updates. ShowResults over a result table of 100,000 rows and 20 vehicles (target 1 s).
// The benchmark runs its own session bus and an offscreen window.
#include "MonitorEnvironment.h"
#include "app/CarsTreeView.h"
#include "app/FleetTree.h"
#include "app/Mainform.h"
#include "calc/Thread.h"
#include "platform/core/AppDir.h"
#include "platform/core/DateTime.h"
#include "platform/core/Formats.h"
#include "platform/localsql/Dbf.h"
#include "platform/localsql/SqlEngine.h"
#include "server/Kelvon_ocx.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kDevice = 4711;
const QDate kMonday(2024, 6, 3);

std::unique_ptr<kp::bench::MonitorEnvironment> env;

bool setUp() {
    env = std::make_unique<kp::bench::MonitorEnvironment>();
    if (!env->startBus()) return false;

    // One vehicle, its four inputs counted, a record every 37 seconds for the week.
    const QByteArray fleet =
        kp::bench::fleetHeader() + "depot.kgr,Автоколонна,,,4711,ЛиАЗ-5256,АВ 471 63,,,,,\n";
    QByteArray records = "device,time,channel,counter1,counter2,counter3,counter4\n";
    int c[4] = {0, 0, 0, 0};
    for (QDateTime t(kMonday, QTime(0, 0, 11)); t < QDateTime(kMonday.addDays(7), QTime(0, 0));
         t = t.addSecs(37)) {
        for (int i = 0; i < 4; ++i)
            c[i] += (t.time().second() + i) % 5;
        records += QStringLiteral("%1,%2,GSM,%3,%4,%5,%6\n")
                       .arg(kDevice)
                       .arg(t.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")))
                       .arg(c[0])
                       .arg(c[1])
                       .arg(c[2])
                       .arg(c[3])
                       .toUtf8();
    }
    const QString appDir = env->path(QStringLiteral("app"));
    if (!kp::bench::writeFile(appDir + "/TS/Cars.ini",
                              "[4711]\r\nD1=2\r\nD2=3\r\nD3=4\r\nD4=2\r\n"))
        return false;
    kp::setAppDirForTests(appDir);
    return env->import(QStringLiteral("fleet"), fleet) &&
           env->import(QStringLiteral("records"), records) && env->startServer();
}

bool idle(const TForm1 &w) { return w.CalcThread.isNull() && w.GroupBox2->isEnabled(); }

// "Расчет" over the week in minutes, through the window, until the display is rebuilt.
void BM_WholeRun(benchmark::State &state) {
    TForm1 w;
    w.Automation = new TKelvonAutomation(&w);
    w.ResultPath = kp::appDir() + QStringLiteral("/result.dbf");
    w.FillCarsTree();
    auto *model = static_cast<QStandardItemModel *>(w.trvCars->model());
    const QModelIndexList found =
        model->match(model->index(0, 0), Qt::DisplayRole, QStringLiteral("ЛиАЗ*"), 1,
                     Qt::MatchWildcard | Qt::MatchRecursive);
    if (found.isEmpty()) {
        state.SkipWithError("the vehicle is not in the tree");
        return;
    }
    w.trvCars->selectionModel()->select(found.first(), QItemSelectionModel::ClearAndSelect);
    w.DateBegin->setDate(kMonday);
    w.TimeBegin->setTime(QTime(0, 0));
    w.DateEnd->setDate(kMonday.addDays(7));
    w.TimeEnd->setTime(QTime(0, 0));
    w.cmbTimeInterval->setCurrentIndex(4); // "1 минута"
    w.cmbTimeIntervalChange();

    kp::calc::RunTimings sum;
    double displaySeconds = 0;
    qint64 rows = 0;
    for (auto _ : state) {
        QElapsedTimer finishedAt;
        w.Button1Click();
        auto *thread = qobject_cast<kp::calc::CountThread *>(w.CalcThread.data());
        QObject::connect(
            thread, &QThread::finished, thread,
            [thread, &sum, &finishedAt] {
                const kp::calc::RunTimings &t = thread->calculation().timings();
                sum.serverNs += t.serverNs;
                sum.queryNs += t.queryNs;
                sum.insertNs += t.insertNs;
                sum.updateNs += t.updateNs;
                sum.countingNs += t.countingNs;
                finishedAt.start();
            },
            Qt::DirectConnection);
        // Wait in the event loop (not spinning, which would take a core from the run).
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (idle(w)) loop.quit();
        });
        poll.start(5);
        loop.exec();
        displaySeconds += finishedAt.nsecsElapsed() / 1e9;
        rows = kp::localsql::DbfTable::read(w.ResultPath).recordCount();
    }
    const double n = double(state.iterations());
    state.counters["server_s"] = sum.serverNs / 1e9 / n;
    state.counters["queries_s"] = sum.queryNs / 1e9 / n;
    state.counters["inserts_s"] = sum.insertNs / 1e9 / n;
    state.counters["posting_s"] = sum.updateNs / 1e9 / n;
    state.counters["counting_s"] = sum.countingNs / 1e9 / n;
    state.counters["display_s"] = displaySeconds / n; // main thread after the run: ShowResults
    state.counters["rows"] = double(rows);
    if (rows == 0) state.SkipWithError("the run wrote no rows");
}

// ShowResults over 100,000 rows of 20 vehicles (5,000 hourly intervals each), read afresh from
// the file as after a run.
void BM_ShowResults(benchmark::State &state) {
    constexpr int kVehicles = 20;
    constexpr int kIntervals = 5000;
    const QString path = env->path(QStringLiteral("show/result.dbf"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList cars;
    QList<kp::localsql::DbfField> fields{
        kp::localsql::dbfCharacter(QStringLiteral("DateTime"), 20),
        kp::localsql::dbfCharacter(QStringLiteral("DTSTR"), 20),
        kp::localsql::dbfCharacter(QStringLiteral("INKolvo"), 10),
        kp::localsql::dbfCharacter(QStringLiteral("OUTKolvo"), 10)};
    for (int v = 0; v < kVehicles; ++v) {
        cars << QString::number(500 + v);
        fields << kp::localsql::dbfCharacter(QStringLiteral("IN") + cars.last(), 10)
               << kp::localsql::dbfCharacter(QStringLiteral("OUT") + cars.last(), 10);
    }
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    QList<kp::localsql::DbfRow> rows;
    rows.reserve(kVehicles * kIntervals);
    const double first = kp::toSerial(kMonday, QTime(0, 0));
    for (int v = 0; v < kVehicles; ++v)
        for (int j = 0; j < kIntervals; ++j) {
            const double t = first + j / 24.0;
            const QString in = QString::number((j + v) % 17),
                          out = QString::number(-((j * v) % 13));
            kp::localsql::DbfRow row(fields.size());
            row[0] = kp::floatToStr(t, ru);
            row[1] = kp::dateTimeToStr(t, ru);
            row[2] = in;
            row[3] = out;
            row[4 + 2 * v] = in;
            row[5 + 2 * v] = out;
            rows << row;
        }
    kp::localsql::writeDbfTable(path, fields, rows);

    TForm1 w;
    w.ResultPath = path;
    w.SelectedCars = new QStringList(cars);
    w.IntervalsPerDay = 24;
    w.show();
    for (auto _ : state) {
        state.PauseTiming();
        kp::localsql::Engine::closeForThisThread(); // the table is read again, as after a run
        state.ResumeTiming();
        w.ShowResults();
        QCoreApplication::processEvents(); // the chart and grid paint
    }
    state.counters["grid_rows"] = w.DBGrid1->model() ? w.DBGrid1->model()->rowCount() : 0;
    if (!w.DBGrid1->model() || w.DBGrid1->model()->rowCount() != kIntervals)
        state.SkipWithError("the grid does not show the intervals");
}

} // namespace

BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ShowResults)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return kp::bench::runBenchmarks(argc, argv, "bench-calculation", setUp, [] { env.reset(); });
}
