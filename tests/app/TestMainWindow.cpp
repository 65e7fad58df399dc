// The main window after start-up: captions, the status area, the dates, the size limits of the
// regions, the TS folder, and an error during start-up reaching the entry point's display.
#include "app/Application.h"
#include "app/Mainform.h"
#include "platform/chart/DbChart.h"
#include "platform/core/AppDir.h"
#include "platform/core/Exceptions.h"
#include "results/PeriodBox.h"
#include "tests/support/ModalAnswerer.h"

#include <QtTest>
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimeEdit>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void captionsAfterStartUp();
    void statusAreaAfterStartUp();
    void periodBoxAfterStartUp();
    void presetThenEditByTheOperator();
    void regionsKeepTheirSizeLimits_data();
    void regionsKeepTheirSizeLimits();
    void startUpCreatesTheConfigurationFolder();
    void startUpIgnoresAFolderItCannotCreate();
    void startUpErrorReachesTheEntryPoint();
    void exitClosesTheWindow();

private:
    QTemporaryDir dir_;
    QTemporaryDir monitorData_;
    QProcess monitor_;
};

// The start-up sequence fills the fleet tree from the monitoring server: the demo server runs on
// the test's private bus for every test.
void TestMainWindow::initTestCase() {
    QVERIFY(monitorData_.isValid());
    monitor_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    monitor_.start(qEnvironmentVariable("KP_BIN_DIR") + "/kelvon-monitor",
                   {"--data", monitorData_.path()});
    QVERIFY(monitor_.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(
        QDBusConnection::sessionBus().interface()->isServiceRegistered("org.kelvon.Monitoring"),
        10000);
}

void TestMainWindow::cleanupTestCase() {
    monitor_.kill();
    monitor_.waitForFinished(5000);
}

void TestMainWindow::init() {
    QVERIFY(dir_.isValid());
    kp::setAppDirForTests(dir_.path());
    QDir(dir_.path() + "/TS").removeRecursively();
}

void TestMainWindow::captionsAfterStartUp() {
    TForm1 w;
    w.show();
    w.FormShow();
    QCOMPARE(w.windowTitle(), QStringLiteral("Кельвон: Мониторинг транспорта v1.1.2"));
    QCOMPARE(w.centralWidget()->size(), QSize(934, 714));
    QStringList menu;
    for (QAction *a : w.menuBar()->actions()) menu << a->text();
    QCOMPARE(menu, (QStringList{"Список групп", "Редактирование шаблона", "Выход"}));
    QCOMPARE(w.GroupBox1->title(), QStringLiteral("Параметры ТС"));
    QCOMPARE(w.GroupBox2->title(), QStringLiteral("Выбор периода"));
    QCOMPARE(w.GroupBox3->title(), QStringLiteral("Текущая операция"));
    QCOMPARE(w.GroupBox4->title(), QStringLiteral("Общее кол-во"));
    QCOMPARE(w.Button1->text(), QStringLiteral("Расчет"));
    QCOMPARE(w.Button2->text(), QStringLiteral("Вывести отчет"));
    QCOMPARE(w.btnChangeParams->text(), QStringLiteral("Изменить"));
    QCOMPARE(w.DBChart1->title(), QStringLiteral("Зависимость кол-ва перевезенных пассажиров от времени"));
    QCOMPARE(w.DBChart1->bottomAxisTitle(), QStringLiteral("Дата"));
    QCOMPARE(w.DBChart1->leftAxisTitle(), QStringLiteral("Кол-во"));
    QCOMPARE(w.DBChart1->seriesTitle(0), QStringLiteral("Входящие"));
    QCOMPARE(w.DBChart1->seriesTitle(1), QStringLiteral("Выходящие"));
    QCOMPARE(w.Label11->text(), QStringLiteral("Входящих:"));
    QCOMPARE(w.Label12->text(), QStringLiteral("Выходящих:"));
    QCOMPARE(w.lblSumIN->text(), QStringLiteral("0"));
    QCOMPARE(w.lblSumOUT->text(), QStringLiteral("0"));
    QVERIFY(w.rbtInOut->isChecked());
    QVERIFY(!w.rbtInOut->isEnabled());
    QVERIFY(!w.rbtSum->isEnabled());
    QCOMPARE(w.rbtSum->text(), QStringLiteral("Перевезенные"));
    for (QComboBox *c : {w.cmbD1, w.cmbD2, w.cmbD3, w.cmbD4}) {
        QCOMPARE(c->count(), 4);
        QCOMPARE(c->itemText(3), QStringLiteral("Перевезённые"));
        QCOMPARE(c->currentIndex(), -1);
        QVERIFY(c->isEnabled());
    }
    QCOMPARE(w.cmbGroup->count(), 0);
    QCOMPARE(w.ResultPath, dir_.path() + "/result.dbf");
    QVERIFY(w.CalcThread.isNull());
    QVERIFY(w.SelectedCars == nullptr);
}

void TestMainWindow::statusAreaAfterStartUp() {
    TForm1 w;
    w.show();
    QCOMPARE(w.lblMessage->text(), QString());
    w.FormShow();
    QCOMPARE(w.lblMessage->text(), QStringLiteral("Ожидание"));
    QCOMPARE(w.lblCurrID->text(), QString());
    QCOMPARE(w.ProgressBarOne->minimum(), 0);
    QCOMPARE(w.ProgressBarOne->maximum(), 100);
    QCOMPARE(w.ProgressBarOne->value(), 0);
    // The three operations other parts write it through; it keeps what was last written.
    w.setStatusMessage(QStringLiteral("Расчет по "));
    w.setStatusDetail(QStringLiteral("(1/3)"));
    w.setStatusProgress(3, 1);
    QCOMPARE(w.lblMessage->text(), QStringLiteral("Расчет по "));
    QCOMPARE(w.lblCurrID->text(), QStringLiteral("(1/3)"));
    QCOMPARE(w.ProgressBarOne->maximum(), 3);
    QCOMPARE(w.ProgressBarOne->value(), 1);
}

void TestMainWindow::periodBoxAfterStartUp() {
    TForm1 w;
    w.show();
    w.FormShow();
    QCOMPARE(w.DateBegin->date(), QDate::currentDate());
    QCOMPARE(w.DateEnd->date(), QDate::currentDate());
    QCOMPARE(w.TimeBegin->time(), QTime(8, 0));
    QCOMPARE(w.TimeEnd->time(), QTime(20, 0));
    QCOMPARE(w.cmbPeriodTime->currentText(), QStringLiteral("Произвольный"));
    QCOMPARE(w.cmbPeriodTime->itemText(5), QStringLiteral("За предыдущюю неделю"));
    QCOMPARE(w.cmbTimeInterval->currentText(), QStringLiteral("1 час"));
    QCOMPARE(w.IntervalsPerDay, 24.0);
    QVERIFY(w.rbtGSM->isChecked());
    QVERIFY(!w.rbtUSB->isChecked());
}

// Picking a preset with the keyboard sets the pickers and stays shown; the first edit of a picker
// by the operator turns the list back to "Произвольный" and changes nothing else. Today is read
// at each pick.
void TestMainWindow::presetThenEditByTheOperator() {
    QDate today(2026, 12, 13); // a Sunday
    kp::results::setTodayForTests([&today] { return today; });
    struct RestoreClock {
        ~RestoreClock() { kp::results::setTodayForTests({}); }
    } restore;
    TForm1 w;
    w.show();
    w.FormShow();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // Down four times from "Произвольный": "За предыдущие сутки".
    w.cmbPeriodTime->setFocus();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(w.cmbPeriodTime, Qt::Key_Down);
    QCOMPARE(w.cmbPeriodTime->currentIndex(), 4);
    QCOMPARE(w.DateBegin->date(), QDate(2026, 12, 12));
    QCOMPARE(w.DateEnd->date(), QDate(2026, 12, 13));
    QCOMPARE(w.TimeBegin->time(), QTime(0, 0));
    QCOMPARE(w.TimeEnd->time(), QTime(0, 0));

    // The next day the same list moves on to "За предыдущюю неделю" with the new today.
    today = QDate(2026, 12, 14); // a Monday
    QTest::keyClick(w.cmbPeriodTime, Qt::Key_Down);
    QCOMPARE(w.cmbPeriodTime->currentIndex(), 5);
    QCOMPARE(w.DateBegin->date(), QDate(2026, 12, 7));
    QCOMPARE(w.DateEnd->date(), QDate(2026, 12, 14));

    // The operator steps the end time's hour up by one.
    w.TimeEnd->setFocus();
    w.TimeEnd->setCurrentSection(QDateTimeEdit::HourSection);
    QTest::keyClick(w.TimeEnd, Qt::Key_Up);
    QCOMPARE(w.TimeEnd->time(), QTime(1, 0));
    QCOMPARE(w.cmbPeriodTime->currentText(), QStringLiteral("Произвольный"));
    QCOMPARE(w.DateBegin->date(), QDate(2026, 12, 7));
    QCOMPARE(w.DateEnd->date(), QDate(2026, 12, 14));
    QCOMPARE(w.TimeBegin->time(), QTime(0, 0));

    // Picking "Произвольный" itself keeps the dates and resets both times.
    w.TimeBegin->setTime(QTime(8, 30));
    w.cmbPeriodTime->setFocus();
    QTest::keyClick(w.cmbPeriodTime, Qt::Key_Down);
    QTest::keyClick(w.cmbPeriodTime, Qt::Key_Home);
    QCOMPARE(w.cmbPeriodTime->currentIndex(), 0);
    QCOMPARE(w.DateBegin->date(), QDate(2026, 12, 14)); // from "С начала суток" a moment ago
    QCOMPARE(w.DateEnd->date(), QDate(2026, 12, 15));
    QCOMPARE(w.TimeBegin->time(), QTime(0, 0));
    QCOMPARE(w.TimeEnd->time(), QTime(0, 0));
}

void TestMainWindow::regionsKeepTheirSizeLimits_data() {
    QTest::addColumn<QString>("splitter");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<int>("expected");
    QTest::newRow("left pane wider than 400") << "splitterMain" << 600 << 400;
    QTest::newRow("left pane narrower than 150") << "splitterMain" << 50 << 150;
    QTest::newRow("left pane inside its limits") << "splitterMain" << 300 << 300;
    QTest::newRow("tree taller than 450") << "splitterLeft" << 600 << 450;
    QTest::newRow("tree lower than 250") << "splitterLeft" << 100 << 250;
    QTest::newRow("control strip taller than 150") << "splitterRight" << 400 << 150;
    QTest::newRow("control strip lower than 125") << "splitterRight" << 50 << 125;
}

void TestMainWindow::regionsKeepTheirSizeLimits() {
    QFETCH(QString, splitter);
    QFETCH(int, wanted);
    QFETCH(int, expected);
    TForm1 w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *s = w.findChild<QSplitter *>(splitter);
    QVERIFY(s);
    QCOMPARE(s->handleWidth(), 5);
    QVERIFY(s->opaqueResize());
    QVERIFY(!s->childrenCollapsible());
    // Drag the handle as the operator would.
    QSplitterHandle *h = s->handle(1);
    const bool horizontal = s->orientation() == Qt::Horizontal;
    const int delta = wanted - s->sizes().at(0);
    const QPoint start = h->rect().center();
    const QPoint end = start + (horizontal ? QPoint(delta, 0) : QPoint(0, delta));
    auto send = [h](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, h->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(h, &e);
    };
    send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    send(QEvent::MouseMove, end, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, end, Qt::NoButton);
    QCOMPARE(s->sizes().at(0), expected);
    // Resizing the window keeps the limits too.
    w.resize(1400, 900);
    QTest::qWait(20);
    QVERIFY(w.pnlLeft->width() <= 400 && w.pnlLeft->width() >= 150);
    QVERIFY(w.pnlRight->width() >= 500);
    QVERIFY(w.pnlTree->height() <= 450 && w.pnlTree->height() >= 250);
    QVERIFY(w.pnlTop->height() <= 150 && w.pnlTop->height() >= 125);
    QCOMPARE(w.DBChart1->height(), 270);
    // The status area stretches with the strip and keeps its place at the right end.
    QCOMPARE(w.GroupBox3->geometry().right(), w.pnlTop->width() - 6);
}

void TestMainWindow::startUpCreatesTheConfigurationFolder() {
    QVERIFY(!QFileInfo::exists(dir_.path() + "/TS"));
    TForm1 w;
    w.show();
    w.FormShow();
    QVERIFY(QFileInfo(dir_.path() + "/TS").isDir());
}

void TestMainWindow::startUpIgnoresAFolderItCannotCreate() {
    // Root can write anywhere: a program folder that is a regular file cannot hold TS.
    QFile blocker(dir_.path() + "/not-a-folder");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    kp::setAppDirForTests(blocker.fileName());
    kp::test::ModalAnswerer boxes;
    TForm1 w;
    w.show();
    w.FormShow();
    QTest::qWait(50);
    QCOMPARE(boxes.count(), 0);
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
    QCOMPARE(w.lblMessage->text(), QStringLiteral("Ожидание"));
}

void TestMainWindow::startUpErrorReachesTheEntryPoint() {
    kp::test::ModalAnswerer boxes;
    bool loopRan = false;
    int rc = kp::app::runApplication(*qApp, [&](TForm1 &w) {
        w.FormShow();
        QTimer::singleShot(0, [&] { loopRan = true; });
        throw kp::EOleSysError(QStringLiteral("Сервер недоступен"), static_cast<kp::HResult>(0x800706BA));
    });
    QCOMPARE(rc, 0);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.seen().at(0).text, QStringLiteral("Сервер недоступен"));
    QCOMPARE(boxes.seen().at(0).icon, QMessageBox::Critical);
    QVERIFY(Form1 == nullptr);
    // A foreign error is shown with an empty message.
    rc = kp::app::runApplication(*qApp, [](TForm1 &) { throw std::runtime_error("x"); });
    QCOMPARE(rc, 0);
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.seen().at(1).text, QString());
    Q_UNUSED(loopRan);
}

void TestMainWindow::exitClosesTheWindow() {
    TForm1 w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.N3->trigger();
    QVERIFY(!w.isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
