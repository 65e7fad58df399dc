// The one main window TForm1: the fleet tree, the vehicle parameters panel, the period box,
// "Расчет" and "Вывести отчет", the status area "Текущая операция", the chart, the totals and
// the result grid. Handlers are thin: they read the controls and call the plain classes.
#pragma once

#include "app/FleetTree.h"
#include "calc/Run.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <memory>

class QAction;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTableView;
class QTimeEdit;
class QThread;
class TCarsTreeView;

namespace kp::chart {
class DbChart;
}
namespace kp::localsql {
class Query;
class QueryModel;
} // namespace kp::localsql

class TKelvonAutomation;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // The start-up sequence, run once when the window is first shown (before the message loop
    // starts, so that an error reaches the entry point). A second call does nothing.
    void FormShow();

    // Status area "Текущая операция": the three operations other parts write it through.
    void setStatusMessage(const QString &text);
    void setStatusDetail(const QString &text);
    void setStatusProgress(int maximum, int position);

    // Period box "Выбор периода": the presets, a manual edit of a picker, the interval.
    void cmbPeriodTimeChange();
    void DateChange();
    // Interval box handler: sets IntervalsPerDay from the chosen item.
    void cmbTimeIntervalChange();

    // Fleet tree and vehicle parameters panel (ParamsPanel.cpp).
    void FillCarsTree();
    void trvCarsChange();
    void EnableParamControls(int kind, bool on);
    void LoadCarParams(std::int32_t device);
    void cmbGroupChange();
    void btnChangeParamsClick();
    void N2Click();
    // The vehicles the tree's selection stands for, in the order they are processed.
    kp::app::SelectionVehicles selectedVehicles() const;

    // Calculation run and result display (CalcHandlers.cpp).
    void Button1Click();
    void BuildSelectedCars();
    void ShowResults();
    void rbtInOutClick();
    void rbtSumClick();
    // What the next runs talk to: the monitoring server and Cars.ini (tests give their own).
    kp::calc::Calculation::ServerFactory RunServer;
    kp::calc::Calculation::RoleSourceFactory RunRoles;

    // Members shared with the calculation and the result display.
    QPointer<QThread> CalcThread;
    QString ResultPath;
    TKelvonAutomation *Automation = nullptr; // owned by the application object
    double IntervalsPerDay = 24;
    QStringList *SelectedCars = nullptr;
    // The queries of the result display and the grid's data source.
    std::unique_ptr<kp::localsql::Query> ResultQuery;
    std::unique_ptr<kp::localsql::Query> QueryChart;
    std::unique_ptr<kp::localsql::Query> QueryGrid;
    kp::localsql::QueryModel *DataSource1 = nullptr;

    // Controls, by their design names.
    QSplitter *splitterMain;      // left pane | right pane
    QWidget *pnlLeft;
    QSplitter *splitterLeft;      // tree region / parameters region
    QWidget *pnlTree;
    TCarsTreeView *trvCars;
    QWidget *pnlParams;
    QGroupBox *GroupBox1;
    QComboBox *cmbGroup;
    QComboBox *cmbSubGroup;
    QComboBox *cmbD1;
    QComboBox *cmbD2;
    QComboBox *cmbD3;
    QComboBox *cmbD4;
    QPushButton *btnChangeParams;
    QWidget *pnlRight;
    QSplitter *splitterRight;     // control strip / chart and grid
    QWidget *pnlTop;
    QGroupBox *GroupBox2;
    QComboBox *cmbPeriodTime;
    QDateEdit *DateBegin;
    QTimeEdit *TimeBegin;
    QDateEdit *DateEnd;
    QTimeEdit *TimeEnd;
    QComboBox *cmbTimeInterval;
    QRadioButton *rbtGSM;
    QRadioButton *rbtUSB;
    QPushButton *Button1;
    QPushButton *Button2;
    QGroupBox *GroupBox3;
    QLabel *lblMessage;
    QProgressBar *ProgressBarOne;
    QLabel *lblCurrID;
    QWidget *pnlBottom;
    kp::chart::DbChart *DBChart1;
    QRadioButton *rbtInOut;
    QRadioButton *rbtSum;
    QGroupBox *GroupBox4;
    QLabel *Label11;
    QLabel *lblSumIN;
    QLabel *Label12;
    QLabel *lblSumOUT;
    QTableView *DBGrid1;
    QAction *N2;
    QAction *N3;
    QAction *N4;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    QWidget *buildTreeRegion();
    QWidget *buildParamsRegion();
    QWidget *buildControlStrip();
    QWidget *buildChartAndGrid();
    void placeChartOverlays();
    void setupFleetTree();
    void setupCalculation();
    void detachDisplay();
    void setRunProgressRange(qint64 maximum);
    void setRunProgressPosition(qint64 position);
    void restoreIdleState(bool withErrors);
    void stopCalculationForClose();
    void N3Click();

    bool shown_ = false;
    kp::localsql::QueryModel *chartSource_ = nullptr; // QueryChart's rows for both series
    qint64 progressScale_ = 1; // run totals beyond the bar's int range are scaled down
};

// The one main window, reachable by the calculation thread's completion.
extern TForm1 *Form1;

// Set by every press of "Расчет"/"Отмена"; the report command reads it.
extern bool CalcStarted;
