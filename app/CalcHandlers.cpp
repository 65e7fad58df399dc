// The main window's calculation run and result display: "Расчет"/"Отмена", the list of the
// selection's device numbers, the completion handler ShowResults and the display-mode buttons.
#include "Mainform.h"

#include "app/CarsTreeView.h"
#include "calc/Thread.h"
#include "platform/chart/DbChart.h"
#include "platform/core/AppDir.h"
#include "platform/core/Formats.h"
#include "platform/localsql/Query.h"
#include "platform/localsql/QueryModel.h"
#include "platform/ui/MessageBoxes.h"
#include "results/PeriodBox.h"
#include "results/ResultStatements.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>
#include <limits>

bool CalcStarted = false;

using kp::calc::CountThread;

namespace {

kp::results::DisplayMode displayMode(const TForm1 &w) {
    return w.rbtSum->isChecked() ? kp::results::DisplayMode::Sum : kp::results::DisplayMode::InOut;
}

// The DateTime field holds the interval's day number as text with the system's separator.
kp::chart::DbChart::XReader dayReader() {
    const QLocale locale = QLocale::system();
    return [locale](const QVariant &v, double *day) {
        if (v.isNull()) return false;
        return kp::strToFloat(v.toString(), locale, day);
    };
}

QString failureText(const QList<kp::calc::RunFailure> &failures) {
    QStringList lines;
    for (const kp::calc::RunFailure &f : failures)
        lines << (f.vehicle.isEmpty() ? f.message : f.vehicle + QStringLiteral(": ") + f.message);
    return lines.join(u'\n');
}

} // namespace

void TForm1::setupCalculation() {
    RunServer = [] { return kp::calc::makeMonitoringServer(); };
    RunRoles = [](const QString &path) { return kp::calc::makeCarsIniRoles(path); };
    ResultQuery = std::make_unique<kp::localsql::Query>();
    QueryChart = std::make_unique<kp::localsql::Query>();
    QueryGrid = std::make_unique<kp::localsql::Query>();
    DataSource1 = new kp::localsql::QueryModel(this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    chartSource_ = new kp::localsql::QueryModel(this);
    DBGrid1->setModel(DataSource1);

    auto guarded = [this](void (TForm1::*handler)()) {
        return
            [this, handler] { kp::ui::runGuarded(this, [this, handler] { (this->*handler)(); }); };
    };
    connect(Button1, &QPushButton::clicked, this, guarded(&TForm1::Button1Click));
    // The mode handlers run when their button becomes selected.
    connect(rbtInOut, &QRadioButton::toggled, this, [this, guarded](bool on) {
        if (on) guarded (&TForm1::rbtInOutClick)();
    });
    connect(rbtSum, &QRadioButton::toggled, this, [this, guarded](bool on) {
        if (on) guarded (&TForm1::rbtSumClick)();
    });
}

void TForm1::BuildSelectedCars() {
    auto *list = new QStringList;
    for (const TCarsParams *car : selectedVehicles().vehicles)
        *list << QString::number(car->Device);
    delete SelectedCars;
    SelectedCars = list;
}

void TForm1::Button1Click() {
    CalcStarted = true;
    if (CalcThread) {
        // Cancelling: the thread stays referenced until ShowResults has run.
        Button1->setText(QStringLiteral("Расчет"));
        if (auto *run = qobject_cast<CountThread *>(CalcThread.data()))
            run->cancel();
        else
            CalcThread->requestInterruption();
        return;
    }
    Button1->setText(QStringLiteral("Отмена"));

    // What the run reads of the window, taken now: the controls it reads stay disabled for the
    // whole run, so this is what the run would have read.
    kp::calc::RunSettings s;
    s.dateBegin = DateBegin->date();
    s.timeBegin = TimeBegin->time();
    s.dateEnd = DateEnd->date();
    s.timeEnd = TimeEnd->time();
    s.intervalsPerDay = IntervalsPerDay;
    s.channel = kp::results::dataSource(rbtGSM->isChecked());
    for (const TCarsParams *car : selectedVehicles().vehicles)
        s.vehicles.append({car->Device, car->Model, car->Number, car->GroupFileName});
    s.workDir = kp::appDir();
    s.locale = QLocale::system();

    auto *thread = new CountThread(std::move(s), RunServer, RunRoles);
    thread->setObjectName(QStringLiteral("CountThread"));
    CalcThread = thread;
    // Signals of the worker reach the window queued, in the order the run emitted them.
    connect(thread, &CountThread::statusMessageChanged, this, &TForm1::setStatusMessage);
    connect(thread, &CountThread::progressRangeChanged, this, &TForm1::setRunProgressRange);
    connect(thread, &CountThread::progressPositionChanged, this, &TForm1::setRunProgressPosition);
    connect(thread, &CountThread::intervalCounted, this, [this](qint64 k, qint64 total) {
        setRunProgressPosition(k);
        setStatusDetail(QStringLiteral("(%1/%2)").arg(k).arg(total));
    });
    connect(thread, &CountThread::displayDetached, this, &TForm1::detachDisplay);
    connect(thread, &CountThread::selectionReplaced, this, [this] { BuildSelectedCars(); });
    connect(thread, &QThread::finished, this,
            [this] { kp::ui::runGuarded(this, [this] { ShowResults(); }); });
    // Started from the event loop, so that a second press handled in the same pass cancels the
    // run before it has touched anything.
    QTimer::singleShot(0, thread, [thread] { thread->start(); });

    for (QWidget *w :
         std::initializer_list<QWidget *>{Button2, GroupBox2, GroupBox1, trvCars, rbtInOut, rbtSum})
        w->setEnabled(false);
    N2->setEnabled(false);
    N4->setEnabled(false);
}

void TForm1::detachDisplay() {
    DBGrid1->setModel(nullptr);
    DBChart1->detachSeries(0);
    DBChart1->detachSeries(1);
    DBChart1->refresh();
    // The run replaces result.dbf: the display queries let go of the old table (their rows stay
    // with the models until ShowResults gives them new ones).
    ResultQuery->close();
    QueryChart->close();
    QueryGrid->close();
}

void TForm1::setRunProgressRange(qint64 maximum) {
    progressScale_ = 1;
    while (maximum / progressScale_ > std::numeric_limits<int>::max())
        progressScale_ *= 2;
    ProgressBarOne->setRange(0, int(maximum / progressScale_));
}

void TForm1::setRunProgressPosition(qint64 position) {
    ProgressBarOne->setValue(int(position / progressScale_));
}

void TForm1::ShowResults() {
    // The thread that ended (none when a mode button rebuilds the display).
    CountThread *ended = qobject_cast<CountThread *>(CalcThread.data());
    const QList<kp::calc::RunFailure> failures =
        ended ? ended->failures() : QList<kp::calc::RunFailure>();
    try {
        const kp::results::DisplayMode mode = displayMode(*this);
        const QStringList cars = SelectedCars ? *SelectedCars : QStringList();
        const QString &r = ResultPath;
        // 1.
        ResultQuery->setSql(kp::results::rowCountSql(r));
        ResultQuery->open();
        const qlonglong rows = ResultQuery->fieldByName(QStringLiteral("count1")).toLongLong();
        if (rows > 0) {
            // 2.
            kp::localsql::Query totals(kp::results::totalsSql(r));
            totals.open();
            // 3.
            QueryChart->clear();
            QueryGrid->clear();
            // 4., 5.
            const kp::results::TotalsView t =
                kp::results::totalsView(mode, totals.fieldByName(QStringLiteral("INKolvo")),
                                        totals.fieldByName(QStringLiteral("OUTKolvo")));
            Label11->setText(t.caption);
            Label12->setVisible(t.outVisible);
            lblSumOUT->setVisible(t.outVisible);
            lblSumIN->setText(t.in);
            if (t.outVisible) lblSumOUT->setText(t.out);
            // 6., 7.
            QueryChart->setSql(kp::results::chartSql(r, cars, mode));
            QueryGrid->setSql(kp::results::gridSql(r, cars, mode));
            QueryChart->open();
            QueryGrid->open();
            // 8. Both series follow QueryChart's rows: x from DateTime, y from INKolvo/OUTKolvo.
            chartSource_->setQuery(*QueryChart);
            chartSource_->setColumns({{QStringLiteral("DateTime"), QString()},
                                      {QStringLiteral("INKolvo"), QString()},
                                      {QStringLiteral("OUTKolvo"), QString()}});
            DBChart1->setSeriesSource(0, chartSource_, 0, 1, dayReader());
            if (mode == kp::results::DisplayMode::Sum) {
                DBChart1->setSeriesActive(1, false);
                DBChart1->setSeriesTitle(0, QStringLiteral("Перевезенные"));
            } else {
                DBChart1->setSeriesTitle(0, QStringLiteral("Входящие"));
                DBChart1->setSeriesSource(1, chartSource_, 0, 2, dayReader());
                DBChart1->setSeriesActive(1, true);
            }
            DBChart1->setBottomAxisIncrement(1.0 / IntervalsPerDay);
            DBChart1->refresh();
            // 9.
            QList<kp::localsql::QueryModel::Column> columns;
            for (const kp::results::GridColumn &c : kp::results::gridColumns(cars, mode))
                columns.append({c.field, c.title});
            DataSource1->clearColumns();
            DBGrid1->setModel(DataSource1);
            DataSource1->setQuery(*QueryGrid);
            DataSource1->setColumns(columns);
            DBGrid1->resizeColumnToContents(0); // the moment of the interval, readable whole
            // 10. The pending report is shown here once the report commands exist.
        }
    } catch (const std::exception &e) {
        // The idle state below is restored all the same, so the window never keeps "Отмена"
        // and a reference to a thread that is gone.
        kp::ui::showMessageEmptyTitle(kp::ui::errorMessage(e), this);
    }
    // 11.
    restoreIdleState(!failures.isEmpty());
    if (ended) ended->deleteLater();
    if (!failures.isEmpty()) kp::ui::showMessageEmptyTitle(failureText(failures), this);
}

void TForm1::restoreIdleState(bool withErrors) {
    for (QWidget *w :
         std::initializer_list<QWidget *>{Button2, GroupBox2, GroupBox1, trvCars, rbtInOut, rbtSum})
        w->setEnabled(true);
    setStatusMessage(withErrors ? QStringLiteral("Расчет завершен с ошибками")
                                : QStringLiteral("Расчет завершен"));
    setStatusDetail(QString());
    ProgressBarOne->setValue(0);
    CalcThread = nullptr;
    Button1->setText(QStringLiteral("Расчет"));
    N2->setEnabled(true);
    N4->setEnabled(true);
}

void TForm1::rbtInOutClick() { ShowResults(); }
void TForm1::rbtSumClick() { ShowResults(); }

void TForm1::closeEvent(QCloseEvent *event) {
    stopCalculationForClose();
    QMainWindow::closeEvent(event);
}

void TForm1::stopCalculationForClose() {
    // A run still going when the window goes is cancelled and waited for, with events still
    // flowing (the run may be waiting for an answer from the main thread); its completion no
    // longer rebuilds a window that is closing.
    QPointer<QThread> thread = CalcThread;
    if (!thread) return;
    disconnect(thread, nullptr, this, nullptr);
    if (auto *run = qobject_cast<CountThread *>(thread.data()))
        run->cancel();
    else
        thread->requestInterruption();
    if (thread->isRunning()) {
        QEventLoop loop;
        connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
        if (!thread->isFinished()) loop.exec();
    }
    if (thread) {
        thread->wait();
        delete thread;
    }
    CalcThread = nullptr;
}
