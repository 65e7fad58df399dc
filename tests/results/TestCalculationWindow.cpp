// The calculation end to end through the real window, against kelvon-monitor on a private bus
// with a records fixture: select vehicles, press "Расчет", wait, and compare result.dbf with
// counts computed here from the readings; the display in both modes; cancelling; the server
// going away during a run; closing the window during a run.
#include "app/CarsTreeView.h"
#include "app/FleetTree.h"
#include "app/Mainform.h"
#include "platform/chart/DbChart.h"
#include "platform/core/AppDir.h"
#include "platform/core/DateTime.h"
#include "platform/core/Formats.h"
#include "platform/localsql/Dbf.h"
#include "tests/server/MonitorProcess.h"
#include "tests/support/ModalAnswerer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>
#include <array>
#include <map>
#include <memory>

namespace {

const QDate kDay(2009, 5, 19);

struct Reading {
    QDateTime when;
    int counter[4];
};

// Roles of the four inputs, as Cars.ini gets them.
const std::map<int, std::array<int, 4>> kRoles = {
    {9001, {2, 3, 1, 4}},
    {9002, {4, 1, 2, 1}},
    {9003, {1, 1, 1, 1}},
    {-5, {2, 1, 1, 1}}, // a device number that cannot name a column
};

// Readings every 6 to 9 minutes at odd seconds, counters rising by a few pulses each time; the
// first counter of 9001 restarts from a low value at 09:40.
std::map<int, QList<Reading>> makeReadings() {
    std::map<int, QList<Reading>> out;
    QRandomGenerator rng(20090519);
    for (int device : {9001, 9002, 9003, -5}) {
        QDateTime t(kDay, QTime(5, 50, 17));
        int c[4] = {100, 40, 7, 0};
        while (t.time() < QTime(12, 10)) {
            for (int &v : c)
                v += int(rng.bounded(0, 9));
            if (device == 9001 && t.time() >= QTime(9, 40) && t.time() < QTime(9, 48)) c[0] = 6;
            out[device].append({t, {c[0], c[1], c[2], c[3]}});
            t = t.addSecs(360 + rng.bounded(0, 180) + 1);
        }
    }
    return out;
}

void writeFile(const QString &path, const QByteArray &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// Rows of result.dbf as "device|DTSTR|in|out".
QStringList resultRows(const QString &path, const QList<int> &devices) {
    const auto t = kp::localsql::DbfTable::read(path);
    QStringList rows;
    for (qint64 r = 0; r < t.recordCount(); ++r) {
        QString who;
        for (int d : devices)
            if (!t.value(r, t.fieldIndex("IN" + QString::number(d))).isNull())
                who = QString::number(d);
        rows << QStringList{who, t.value(r, t.fieldIndex("DTSTR")).toString(),
                            t.value(r, t.fieldIndex("INKolvo")).toString(),
                            t.value(r, t.fieldIndex("OUTKolvo")).toString()}
                    .join('|');
    }
    rows.sort();
    return rows;
}

qint64 recordCount(const QString &path) {
    try {
        return kp::localsql::DbfTable::read(path).recordCount();
    } catch (...) {
        return 0;
    }
}

// The counting, done independently: per interval the highest counter strictly inside it, half
// of it, the rise over the last interval with data; carried counts split in turn.
QStringList expectedRows(const std::map<int, QList<Reading>> &readings, const QList<int> &devices,
                         const QDateTime &from, const QDateTime &to, int minutes) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    QStringList rows;
    int split = 0;
    for (int d : devices) {
        const auto roles = kRoles.at(d);
        for (int input = 0; input < 4; ++input) {
            const int role = roles[input];
            if (role == 1) continue;
            int carried = 0;
            for (QDateTime s = from; s < to; s = s.addSecs(minutes * 60)) {
                const QDateTime e = s.addSecs(minutes * 60);
                int highest = -1;
                for (const Reading &r : readings.at(d))
                    if (r.when > s && r.when < e && r.when >= from && r.when <= to)
                        highest = std::max(highest, r.counter[input]);
                if (highest < 0) continue;
                const int reading = highest / 2;
                int count = reading - carried;
                carried = reading;
                if (count <= 0) continue;
                const QString when = kp::dateTimeToStr(kp::toSerial(s), ru);
                int in = 0, out = 0;
                if (role == 2) in = count;
                if (role == 3) out = -count;
                if (role == 4) {
                    if (count % 2) {
                        split = split > 0 ? -1 : 1;
                        count += split;
                    }
                    if (count <= 0) continue;
                    in = count / 2;
                    out = -count / 2;
                }
                rows << QStringList{QString::number(d), when, QString::number(in),
                                    QString::number(out)}
                            .join('|');
            }
        }
    }
    rows.sort();
    return rows;
}

QStringList gridTitles(QTableView *grid) {
    QStringList titles;
    if (!grid->model()) return titles;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        titles << grid->model()->headerData(c, Qt::Horizontal).toString();
    return titles;
}

// Answers the non-modal "HRCHECK: " boxes the run's client raises from its thread.
class HrCheckAnswerer : public QObject {
public:
    int answered = 0;
    HrCheckAnswerer() {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w))
                    if (box->objectName() == "HrCheckBox" && box->isVisible()) {
                        box->button(QMessageBox::Yes)->click();
                        ++answered;
                    }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

} // namespace

class TestCalculationWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void resultMatchesTheReadings();
    void displayInBothModes();
    void emptyResultKeepsTheDisplay();
    void vehicleWithoutSensorsIsListed();
    void failedTableAndDisplayRestoreTheIdleState();
    void cancelBeforeTheThreadStarts();
    void cancelDuringTheRunKeepsTheRowsSoFar();
    void twoPressesGiveOneCancel();
    void closingDuringARunWaitsForIt();
    void serverKilledDuringARun();

private:
    void startMonitor(const QStringList &extra = {});
    void select(const QList<int> &devices);
    void setPeriod(const QDateTime &from, const QDateTime &to, int intervalItem);
    void press();
    bool waitForIdle(int ms = 120000);
    QString resultPath() const { return app_.filePath("result.dbf"); }

    QTemporaryDir app_;
    QTemporaryDir data_;
    std::map<int, QList<Reading>> readings_;
    std::unique_ptr<kp::test::MonitorProcess> monitor_;
    std::unique_ptr<TForm1> w_;
    std::unique_ptr<kp::test::ModalAnswerer> boxes_;
};

void TestCalculationWindow::initTestCase() {
    QVERIFY(app_.isValid() && data_.isValid());
    kp::setAppDirForTests(app_.path());
    QVERIFY(QDir(app_.path()).mkpath("TS"));
    QByteArray ini;
    for (const auto &[device, roles] : kRoles) {
        ini += "[" + QByteArray::number(device) + "]\r\n";
        for (int i = 0; i < 4; ++i)
            ini += "D" + QByteArray::number(i + 1) + "=" + QByteArray::number(roles[i]) + "\r\n";
    }
    writeFile(app_.filePath("TS/Cars.ini"), ini);

    writeFile(data_.filePath("fleet.csv"),
              "group_file,group_name,group_address,group_contacts,device,model,number,route,"
              "drivers,alias,tel_num,check_points_file\n"
              "north.kgr,Северный парк,,,9001,ЛиАЗ-5256,АА 001 63,,,,,\n"
              "north.kgr,Северный парк,,,9002,ПАЗ-3205,,,,,,\n"
              "south.kgr,Южный парк,,,9003,,,,,,,\n"
              "south.kgr,Южный парк,,,-5,Резерв,,,,,,\n");
    readings_ = makeReadings();
    QByteArray csv = "device,time,channel,counter1,counter2,counter3,counter4\n";
    for (const auto &[device, list] : readings_)
        for (const Reading &r : list)
            csv += QString("%1,%2,GSM,%3,%4,%5,%6\n")
                       .arg(device)
                       .arg(r.when.toString("dd.MM.yyyy hh:mm:ss"))
                       .arg(r.counter[0])
                       .arg(r.counter[1])
                       .arg(r.counter[2])
                       .arg(r.counter[3])
                       .toUtf8();
    writeFile(data_.filePath("records.csv"), csv);
    for (const char *cmd : {"import-fleet", "import-records"}) {
        const QString file =
            data_.filePath(QString(cmd) == "import-fleet" ? "fleet.csv" : "records.csv");
        const auto r = kp::test::runMonitor({"--data", data_.filePath("db"), cmd, file});
        QVERIFY2(r.exitCode == 0, r.err.constData());
    }
}

void TestCalculationWindow::startMonitor(const QStringList &extra) {
    monitor_ = std::make_unique<kp::test::MonitorProcess>();
    QVERIFY(monitor_->start(QStringList{"--data", data_.filePath("db")} + extra));
}

void TestCalculationWindow::init() {
    if (!monitor_ || !monitor_->running()) startMonitor();
    QFile::remove(resultPath());
    boxes_ = std::make_unique<kp::test::ModalAnswerer>(QMessageBox::Ok);
    w_ = std::make_unique<TForm1>();
    w_->show();
    w_->FormShow();
    QCOMPARE(boxes_->count(), 0);
}

void TestCalculationWindow::cleanup() {
    if (boxes_)
        for (const auto &b : boxes_->seen())
            qInfo() << "box:" << b.title << b.text;
    w_.reset();
    boxes_.reset();
}

void TestCalculationWindow::select(const QList<int> &devices) {
    auto *model = static_cast<QStandardItemModel *>(w_->trvCars->model());
    QItemSelectionModel *sel = w_->trvCars->selectionModel();
    sel->clearSelection();
    for (int d : devices) {
        const QModelIndexList found = model->match(model->index(0, 0), Qt::DisplayRole, "*", -1,
                                                   Qt::MatchWildcard | Qt::MatchRecursive);
        bool selected = false;
        for (const QModelIndex &i : found)
            if (const TCarsParams *car = kp::app::carRecord(i); car && car->Device == d) {
                sel->select(i, QItemSelectionModel::Select);
                selected = true;
            }
        QVERIFY2(selected, qPrintable(QString::number(d)));
    }
}

void TestCalculationWindow::setPeriod(const QDateTime &from, const QDateTime &to, int item) {
    w_->DateBegin->setDate(from.date());
    w_->TimeBegin->setTime(from.time());
    w_->DateEnd->setDate(to.date());
    w_->TimeEnd->setTime(to.time());
    w_->cmbTimeInterval->setCurrentIndex(item);
    w_->cmbTimeIntervalChange();
}

void TestCalculationWindow::press() { QTest::mouseClick(w_->Button1, Qt::LeftButton); }

bool TestCalculationWindow::waitForIdle(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (w_->CalcThread.isNull() && w_->Button1->text() == "Расчет" &&
            w_->GroupBox2->isEnabled())
            return true;
    }
    return false;
}

void TestCalculationWindow::resultMatchesTheReadings() {
    const QDateTime from(kDay, QTime(6, 0)), to(kDay, QTime(12, 0));
    select({9001, 9002});
    setPeriod(from, to, 0);
    press();
    QCOMPARE(w_->Button1->text(), QStringLiteral("Отмена"));
    QVERIFY(!w_->GroupBox2->isEnabled());
    QVERIFY(!w_->trvCars->isEnabled());
    QVERIFY(!w_->N2->isEnabled());
    QVERIFY(w_->N3->isEnabled());
    QVERIFY(waitForIdle());
    QCOMPARE(boxes_->count(), 0);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен"));
    QCOMPARE(w_->lblCurrID->text(), QString());
    QCOMPARE(w_->ProgressBarOne->value(), 0);
    QCOMPARE(*w_->SelectedCars, (QStringList{"9001", "9002"}));

    const QStringList expected = expectedRows(readings_, {9001, 9002}, from, to, 60);
    QVERIFY(expected.size() > 10);
    QCOMPARE(resultRows(resultPath(), {9001, 9002}), expected);

    // The totals are the sums, leaving passengers made positive.
    qlonglong in = 0, out = 0;
    for (const QString &row : expected) {
        in += row.section('|', 2, 2).toLongLong();
        out -= row.section('|', 3, 3).toLongLong();
    }
    QCOMPARE(w_->lblSumIN->text(), QString::number(in));
    QCOMPARE(w_->lblSumOUT->text(), QString::number(out));
}

void TestCalculationWindow::displayInBothModes() {
    const QDateTime from(kDay, QTime(6, 0)), to(kDay, QTime(12, 0));
    select({9002, 9001});
    setPeriod(from, to, 0);
    press();
    QVERIFY(waitForIdle());
    const QStringList rows = expectedRows(readings_, {9002, 9001}, from, to, 60);
    QMap<QString, QPair<int, int>> perInterval; // DTSTR -> in, out
    for (const QString &r : rows) {
        perInterval[r.section('|', 1, 1)].first += r.section('|', 2, 2).toInt();
        perInterval[r.section('|', 1, 1)].second += r.section('|', 3, 3).toInt();
    }

    // "Вход./Выход.": five fixed and per-vehicle columns in selection order.
    QCOMPARE(gridTitles(w_->DBGrid1),
             (QStringList{"Время", "Кол-во вход.", "Кол-во выход.", "9002(вход.)", "9002(выход.)",
                          "9001(вход.)", "9001(выход.)"}));
    QAbstractItemModel *grid = w_->DBGrid1->model();
    QCOMPARE(grid->rowCount(), perInterval.size());
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    for (int r = 0; r < grid->rowCount(); ++r) {
        const QString when = grid->index(r, 0).data().toString();
        QVERIFY2(perInterval.contains(when), qPrintable(when));
        QCOMPARE(grid->index(r, 1).data().toInt(), perInterval[when].first);
        QCOMPARE(grid->index(r, 2).data().toInt(), -perInterval[when].second);
    }
    // The chart: one bar pair per interval, x the interval's moment, leaving below the axis.
    const kp::chart::SeriesData in = w_->DBChart1->seriesData(0);
    const kp::chart::SeriesData out = w_->DBChart1->seriesData(1);
    QCOMPARE(in.x.size(), perInterval.size());
    QCOMPARE(out.x.size(), perInterval.size());
    for (int i = 0; i < in.x.size(); ++i) {
        const QString when = kp::dateTimeToStr(in.x[i], ru);
        QCOMPARE(in.y[i], double(perInterval[when].first));
        QCOMPARE(out.y[i], double(perInterval[when].second));
        QVERIFY(out.y[i] <= 0);
    }
    QVERIFY(w_->DBChart1->seriesActive(1));
    QCOMPARE(w_->DBChart1->bottomAxisIncrement(), 1.0 / 24.0);
    // A label at each interval start, the first at the first bar.
    const QStringList labels = w_->DBChart1->bottomAxisLabels();
    QCOMPARE(labels.first(), kp::serialToDateTime(in.x.first()).toString("dd.MM  hh:mm"));
    for (const QString &l : labels)
        QVERIFY2(l.endsWith(":00"), qPrintable(l));
    QCOMPARE(w_->Label11->text(), QStringLiteral("Входящих:"));
    QVERIFY(w_->Label12->isVisible());

    // "Перевезенные": one series, one total, a column per vehicle of its passengers in and out.
    const QString sumBefore = w_->lblSumIN->text();
    w_->rbtSum->click();
    QCOMPARE(w_->DBChart1->seriesTitle(0), QStringLiteral("Перевезенные"));
    QVERIFY(!w_->DBChart1->seriesActive(1));
    QCOMPARE(gridTitles(w_->DBGrid1),
             (QStringList{"Время", "Кол-во перевез.", "9002(перевез.)", "9001(перевез.)"}));
    QCOMPARE(w_->Label11->text(), QStringLiteral("Перевезенных:"));
    QVERIFY(!w_->Label12->isVisible());
    QVERIFY(!w_->lblSumOUT->isVisible());
    QCOMPARE(w_->lblSumIN->text(), sumBefore);
    int carried9002 = 0;
    for (const QString &r : rows)
        if (r.startsWith("9002|"))
            carried9002 += r.section('|', 2, 2).toInt() - r.section('|', 3, 3).toInt();
    int shown = 0;
    for (int r = 0; r < w_->DBGrid1->model()->rowCount(); ++r)
        shown += w_->DBGrid1->model()->index(r, 2).data().toInt();
    QCOMPARE(shown, carried9002);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен"));

    // A new interval spaces the axis at the next rebuild, over the old table.
    w_->cmbTimeInterval->setCurrentIndex(1);
    w_->cmbTimeIntervalChange();
    QCOMPARE(w_->DBChart1->bottomAxisIncrement(), 1.0 / 24.0);
    w_->rbtInOut->click();
    QCOMPARE(w_->DBChart1->bottomAxisIncrement(), 1.0 / 48.0);
    const QStringList halfHours = w_->DBChart1->bottomAxisLabels();
    QCOMPARE(halfHours.size(), 2 * labels.size() - 1);
    QVERIFY(halfHours[1].endsWith(":30"));
    QCOMPARE(w_->DBChart1->seriesTitle(0), QStringLiteral("Входящие"));
    QCOMPARE(w_->DBChart1->seriesTitle(1), QStringLiteral("Выходящие"));
    QVERIFY(w_->DBChart1->seriesActive(1));
    QCOMPARE(w_->Label11->text(), QStringLiteral("Входящих:"));
    QCOMPARE(w_->Label12->text(), QStringLiteral("Выходящих:"));
    QVERIFY(w_->lblSumOUT->isVisible());
}

void TestCalculationWindow::emptyResultKeepsTheDisplay() {
    const QDateTime from(kDay, QTime(6, 0)), to(kDay, QTime(9, 0));
    select({9001});
    setPeriod(from, to, 0);
    press();
    QVERIFY(waitForIdle());
    const QString in = w_->lblSumIN->text(), out = w_->lblSumOUT->text();
    QVERIFY(in != "0");
    // A period that ends where it starts: the table is made again, empty.
    setPeriod(from, from, 0);
    press();
    QVERIFY(waitForIdle());
    QCOMPARE(recordCount(resultPath()), 0);
    QCOMPARE(boxes_->count(), 0);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен"));
    QCOMPARE(w_->lblSumIN->text(), in);
    QCOMPARE(w_->lblSumOUT->text(), out);
    QVERIFY(w_->DBGrid1->model() == nullptr); // left detached by the run
    QCOMPARE(w_->DBChart1->seriesPointCount(0), 0);
    for (QWidget *c : std::initializer_list<QWidget *>{w_->Button2, w_->GroupBox1, w_->GroupBox2,
                                                       w_->trvCars, w_->rbtInOut, w_->rbtSum})
        QVERIFY(c->isEnabled());
}

void TestCalculationWindow::vehicleWithoutSensorsIsListed() {
    select({9003, 9001});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay, QTime(8, 0)), 0);
    press();
    QVERIFY(waitForIdle());
    QTRY_COMPARE(boxes_->count(), 1);
    const kp::test::SeenBox box = boxes_->seen().first();
    QCOMPARE(box.title, QString());
    QCOMPARE(box.text, QStringLiteral("9003: К данному ТС не подключен ни один датчик"));
    QCOMPARE(box.buttons.size(), 1);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен с ошибками"));
    // The other vehicle was counted, and the table has the columns of both.
    QVERIFY(recordCount(resultPath()) > 0);
    const auto t = kp::localsql::DbfTable::read(resultPath());
    QVERIFY(t.fieldIndex("IN9003") >= 0);
}

void TestCalculationWindow::failedTableAndDisplayRestoreTheIdleState() {
    // The table cannot be created (IN-5 is no column name): the display fails on the missing
    // table, the failure list says why, and the window is idle and usable again.
    select({-5});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay, QTime(8, 0)), 0);
    press();
    QVERIFY(waitForIdle());
    QTRY_COMPARE(boxes_->count(), 2);
    QCOMPARE(boxes_->seen()[0].title, QString());
    QCOMPARE(boxes_->seen()[1].title, QString());
    QVERIFY2(boxes_->seen()[1].text.startsWith("Таблица результатов не создана: "),
             qPrintable(boxes_->seen()[1].text));
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен с ошибками"));
    QVERIFY(w_->CalcThread.isNull());
    QCOMPARE(w_->Button1->text(), QStringLiteral("Расчет"));
    for (QWidget *c : std::initializer_list<QWidget *>{w_->Button2, w_->GroupBox1, w_->GroupBox2,
                                                       w_->trvCars, w_->rbtInOut, w_->rbtSum})
        QVERIFY(c->isEnabled());
    QVERIFY(w_->N2->isEnabled() && w_->N4->isEnabled());
    // The next run goes through.
    select({9001});
    press();
    QVERIFY(waitForIdle());
    QCOMPARE(boxes_->count(), 2);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен"));
    QVERIFY(recordCount(resultPath()) > 0);
}

void TestCalculationWindow::cancelBeforeTheThreadStarts() {
    select({9001});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay, QTime(12, 0)), 0);
    press();
    QVERIFY(waitForIdle());
    QFile f(resultPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    QVERIFY(w_->DBGrid1->model());
    const int gridRows = w_->DBGrid1->model()->rowCount();

    // Another selection and period, cancelled in the same pass of the event loop.
    select({9002});
    setPeriod(QDateTime(kDay, QTime(7, 0)), QDateTime(kDay, QTime(8, 0)), 0);
    w_->Button1->click();
    w_->Button1->click();
    QCOMPARE(w_->Button1->text(), QStringLiteral("Расчет"));
    QVERIFY(waitForIdle());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    // The previous result is shown again, with its own columns.
    QCOMPARE(*w_->SelectedCars, QStringList{"9001"});
    QCOMPARE(w_->DBGrid1->model()->rowCount(), gridRows);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен"));
    QCOMPARE(boxes_->count(), 0);
}

void TestCalculationWindow::cancelDuringTheRunKeepsTheRowsSoFar() {
    // A month in one-minute intervals: long enough to stop half-way.
    select({9001, 9002});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay.addDays(30), QTime(6, 0)), 4);
    press();
    QTRY_VERIFY_WITH_TIMEOUT(recordCount(resultPath()) > 3, 60000);
    press();
    // The caption turns at once; the controls come back only when the thread has ended.
    QCOMPARE(w_->Button1->text(), QStringLiteral("Расчет"));
    QVERIFY(!w_->GroupBox2->isEnabled());
    QVERIFY(waitForIdle());
    const qint64 rows = recordCount(resultPath());
    QVERIFY(rows > 3);
    // 9002 was never reached: its columns are there, empty.
    for (const QString &r : resultRows(resultPath(), {9001, 9002}))
        QVERIFY(r.startsWith("9001|"));
    // What was written is shown.
    QVERIFY(w_->DBGrid1->model() != nullptr);
    QVERIFY(w_->DBGrid1->model()->rowCount() > 0);
    QVERIFY(w_->DBGrid1->model()->rowCount() <= rows);
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен"));
}

void TestCalculationWindow::twoPressesGiveOneCancel() {
    select({9001, 9002});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay.addDays(30), QTime(6, 0)), 4);
    press();
    QTRY_VERIFY_WITH_TIMEOUT(!w_->lblCurrID->text().isEmpty(), 60000);
    QPointer<QThread> running = w_->CalcThread;
    QVERIFY(running);
    press();
    press();
    QCOMPARE(w_->Button1->text(), QStringLiteral("Расчет"));
    QCOMPARE(w_->CalcThread.data(), running.data()); // no second run
    QVERIFY(waitForIdle());
    QTest::qWait(200);
    QVERIFY(w_->CalcThread.isNull());
    QVERIFY(running.isNull()); // the thread object went after its completion
    QCOMPARE(w_->Button1->text(), QStringLiteral("Расчет"));
}

void TestCalculationWindow::closingDuringARunWaitsForIt() {
    select({9001, 9002});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay.addDays(30), QTime(6, 0)), 4);
    press();
    QTRY_VERIFY_WITH_TIMEOUT(recordCount(resultPath()) > 0, 60000);
    QPointer<QThread> running = w_->CalcThread;
    w_->N3->trigger(); // "Выход"
    QVERIFY(!w_->isVisible());
    QVERIFY(w_->CalcThread.isNull());
    QVERIFY(running.isNull());
    QCOMPARE(boxes_->count(), 0);
    w_.reset();
    QTest::qWait(100); // nothing left that touches the window
}

void TestCalculationWindow::serverKilledDuringARun() {
    // A server that takes its time computing, killed while the run waits for it.
    monitor_->kill();
    QVERIFY(kp::test::waitForServerName(false));
    startMonitor({"--slow-computing", "5000"});
    HrCheckAnswerer hrcheck;
    select({9001, 9002});
    setPeriod(QDateTime(kDay, QTime(6, 0)), QDateTime(kDay, QTime(12, 0)), 0);
    press();
    QTRY_VERIFY_WITH_TIMEOUT(w_->lblMessage->text().startsWith("Получение данных по"), 20000);
    monitor_->kill();
    QVERIFY(waitForIdle(60000));
    QTRY_COMPARE(boxes_->count(), 1);
    QVERIFY(hrcheck.answered >= 2);
    const QString text = boxes_->seen().first().text;
    QVERIFY2(text.contains("ЛиАЗ-5256 - АА 001 63: ") && text.contains("ПАЗ-3205: "),
             qPrintable(text));
    QCOMPARE(w_->lblMessage->text(), QStringLiteral("Расчет завершен с ошибками"));
    QCOMPARE(recordCount(resultPath()), 0);
    monitor_.reset();
}

QTEST_MAIN(TestCalculationWindow)
#include "TestCalculationWindow.moc"
