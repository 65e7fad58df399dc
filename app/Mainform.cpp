#include "Mainform.h"

#include "app/CarsTreeView.h"
#include "platform/chart/DbChart.h"
#include "platform/core/AppDir.h"
#include "platform/localsql/Query.h"
#include "platform/localsql/QueryModel.h"
#include "platform/ui/MessageBoxes.h"
#include "results/PeriodBox.h"
#include "server/Kelvon_ocx.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QDir>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>

TForm1 *Form1 = nullptr;

namespace {

const QStringList kRoleItems = {QStringLiteral("N/A"), QStringLiteral("Входящие"),
                                QStringLiteral("Выходящие"), QStringLiteral("Перевезённые")};

QSplitter *makeSplitter(Qt::Orientation o, const char *name, QWidget *parent) {
    auto *s = new QSplitter(o, parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setHandleWidth(5);
    s->setOpaqueResize(true);       // panes follow the handle while it is dragged
    s->setChildrenCollapsible(false); // dragging past a minimum never collapses a pane
    return s;
}

template <class W> W *named(W *w, const char *name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QComboBox *dropDownList(QWidget *parent, const char *name, const QStringList &items = {}) {
    auto *c = named(new QComboBox(parent), name);
    c->setEditable(false); // a drop-down list whose text cannot be typed
    c->addItems(items);
    return c;
}

QLabel *label(QWidget *parent, const QString &text, int x, int y) {
    auto *l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QFont pixelFont(const QFont &base, int pixels, bool bold = false) {
    QFont f = base;
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

} // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Кельвон: Мониторинг транспорта v1.1.2"));

    buildMenu();

    auto *central = new QWidget(this);
    auto *lay = new QHBoxLayout(central);
    lay->setContentsMargins(0, 0, 0, 0);
    splitterMain = makeSplitter(Qt::Horizontal, "splitterMain", central);
    lay->addWidget(splitterMain);
    setCentralWidget(central);

    pnlLeft = named(new QWidget(splitterMain), "pnlLeft");
    pnlLeft->setMinimumWidth(150);
    pnlLeft->setMaximumWidth(400);
    pnlLeft->setMinimumHeight(700);
    auto *leftLay = new QVBoxLayout(pnlLeft);
    leftLay->setContentsMargins(0, 0, 0, 0);
    splitterLeft = makeSplitter(Qt::Vertical, "splitterLeft", pnlLeft);
    leftLay->addWidget(splitterLeft);
    splitterLeft->addWidget(buildTreeRegion());
    splitterLeft->addWidget(buildParamsRegion());
    splitterLeft->setStretchFactor(0, 0);
    splitterLeft->setStretchFactor(1, 1);
    splitterLeft->setSizes({420, 700 - 420 - 5});

    pnlRight = named(new QWidget(splitterMain), "pnlRight");
    pnlRight->setMinimumWidth(500);
    auto *rightLay = new QVBoxLayout(pnlRight);
    rightLay->setContentsMargins(0, 0, 0, 0);
    splitterRight = makeSplitter(Qt::Vertical, "splitterRight", pnlRight);
    rightLay->addWidget(splitterRight);
    splitterRight->addWidget(buildControlStrip());
    splitterRight->addWidget(buildChartAndGrid());
    splitterRight->setStretchFactor(0, 0);
    splitterRight->setStretchFactor(1, 1);
    splitterRight->setSizes({125, 714 - 125 - 5});

    splitterMain->addWidget(pnlLeft);
    splitterMain->addWidget(pnlRight);
    splitterMain->setStretchFactor(0, 0);
    splitterMain->setStretchFactor(1, 1);
    splitterMain->setSizes({216, 934 - 216 - 5});

    setupFleetTree();
    setupCalculation();

    // The client area is 934 × 714 at 96 pixels per inch; the menu bar comes on top of it.
    resize(934, 714 + menuBar()->sizeHint().height());
}

TForm1::~TForm1() {
    stopCalculationForClose();
    delete SelectedCars;
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::buildMenu() {
    N2 = named(menuBar()->addAction(QStringLiteral("Список групп")), "N2");
    N4 = named(menuBar()->addAction(QStringLiteral("Редактирование шаблона")), "N4");
    N3 = named(menuBar()->addAction(QStringLiteral("Выход")), "N3");
    connect(N3, &QAction::triggered, this, [this] { kp::ui::runGuarded(this, [this] { N3Click(); }); });
}

QWidget *TForm1::buildTreeRegion() {
    pnlTree = named(new QWidget, "pnlTree");
    pnlTree->setMinimumHeight(250);
    pnlTree->setMaximumHeight(450);
    auto *lay = new QVBoxLayout(pnlTree);
    lay->setContentsMargins(0, 0, 0, 0);
    trvCars = named(new TCarsTreeView(pnlTree), "trvCars");
    trvCars->setModel(new QStandardItemModel(trvCars));
    trvCars->setHeaderHidden(true);
    trvCars->setIndentation(19);
    trvCars->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lay->addWidget(trvCars);
    return pnlTree;
}

QWidget *TForm1::buildParamsRegion() {
    pnlParams = named(new QWidget, "pnlParams");
    pnlParams->setMinimumHeight(200);
    auto *lay = new QVBoxLayout(pnlParams);
    lay->setContentsMargins(5, 5, 5, 5);
    GroupBox1 = named(new QGroupBox(QStringLiteral("Параметры ТС"), pnlParams), "GroupBox1");
    lay->addWidget(GroupBox1);
    GroupBox1->installEventFilter(this);

    label(GroupBox1, QStringLiteral("Группа:"), 7, 30);
    cmbGroup = dropDownList(GroupBox1, "cmbGroup");
    label(GroupBox1, QStringLiteral("Подгруппа:"), 7, 57);
    cmbSubGroup = dropDownList(GroupBox1, "cmbSubGroup");
    auto *inputs = label(GroupBox1, QStringLiteral("Дискретные входы Кельвона:"), 20, 94);
    inputs->setObjectName(QStringLiteral("lblInputs"));
    inputs->resize(164, inputs->height());
    QComboBox **roles[4] = {&cmbD1, &cmbD2, &cmbD3, &cmbD4};
    const char *roleNames[4] = {"cmbD1", "cmbD2", "cmbD3", "cmbD4"};
    for (int i = 0; i < 4; ++i) {
        label(GroupBox1, QStringLiteral("Вход %1:").arg(i + 1), 7, 120 + 27 * i);
        *roles[i] = dropDownList(GroupBox1, roleNames[i], kRoleItems);
    }
    btnChangeParams = named(new QPushButton(QStringLiteral("Изменить"), GroupBox1), "btnChangeParams");
    btnChangeParams->setGeometry(60, 232, 75, 25);
    btnChangeParams->setAutoDefault(false);

    // Before the operator first picks a tree node every box shows no item.
    for (QComboBox *c : {cmbGroup, cmbSubGroup, cmbD1, cmbD2, cmbD3, cmbD4}) c->setCurrentIndex(-1);

    setTabOrder(cmbGroup, cmbSubGroup);
    setTabOrder(cmbSubGroup, cmbD1);
    setTabOrder(cmbD1, cmbD2);
    setTabOrder(cmbD2, cmbD3);
    setTabOrder(cmbD3, cmbD4);
    setTabOrder(cmbD4, btnChangeParams);
    return pnlParams;
}

QWidget *TForm1::buildControlStrip() {
    pnlTop = named(new QWidget, "pnlTop");
    pnlTop->setMinimumHeight(125);
    pnlTop->setMaximumHeight(150);
    pnlTop->installEventFilter(this);

    GroupBox2 = named(new QGroupBox(QStringLiteral("Выбор периода"), pnlTop), "GroupBox2");
    GroupBox2->setGeometry(5, 5, 336, 107);
    cmbPeriodTime = dropDownList(GroupBox2, "cmbPeriodTime",
        {QStringLiteral("Произвольный"), QStringLiteral("С начала суток"),
         QStringLiteral("С начала недели"), QStringLiteral("С начала месяца"),
         QStringLiteral("За предыдущие сутки"), QStringLiteral("За предыдущюю неделю"),
         QStringLiteral("За предыдущий месяц")});
    cmbPeriodTime->setGeometry(8, 20, 137, 21);
    cmbPeriodTime->setCurrentIndex(0);

    auto datePicker = [this](const char *name, int y) {
        auto *d = named(new QDateEdit(GroupBox2), name);
        d->setCalendarPopup(true);
        d->setDisplayFormat(locale().dateFormat(QLocale::ShortFormat));
        d->setGeometry(160, y, 81, 21);
        return d;
    };
    auto timePicker = [this](const char *name, int y, QTime t) {
        auto *e = named(new QTimeEdit(GroupBox2), name);
        e->setDisplayFormat(QStringLiteral("H:mm"));
        e->setTime(t);
        e->setGeometry(245, y, 56, 21);
        return e;
    };
    label(GroupBox2, QStringLiteral("с"), 150, 23);
    DateBegin = datePicker("DateBegin", 20);
    TimeBegin = timePicker("TimeBegin", 20, QTime(8, 0));
    rbtGSM = named(new QRadioButton(QStringLiteral("GSM"), GroupBox2), "rbtGSM");
    rbtGSM->setGeometry(8, 49, 60, 17);
    rbtGSM->setChecked(true);
    rbtUSB = named(new QRadioButton(QStringLiteral("USB"), GroupBox2), "rbtUSB");
    rbtUSB->setGeometry(72, 49, 60, 17);
    label(GroupBox2, QStringLiteral("по"), 146, 50);
    DateEnd = datePicker("DateEnd", 47);
    TimeEnd = timePicker("TimeEnd", 47, QTime(20, 0));
    auto *interval = label(GroupBox2, QStringLiteral("Интервал расчета:"), 0, 78);
    interval->move(156 - interval->width(), 78);
    cmbTimeInterval = dropDownList(GroupBox2, "cmbTimeInterval",
        {QStringLiteral("1 час"), QStringLiteral("30 минут"), QStringLiteral("10 минут"),
         QStringLiteral("5 минут"), QStringLiteral("1 минута"), QStringLiteral("1 день"),
         QStringLiteral("1 неделя")});
    cmbTimeInterval->setGeometry(160, 75, 81, 21);
    cmbTimeInterval->setCurrentIndex(0);
    connect(cmbTimeInterval, &QComboBox::activated, this,
            [this] { kp::ui::runGuarded(this, [this] { cmbTimeIntervalChange(); }); });
    connect(cmbPeriodTime, &QComboBox::activated, this,
            [this] { kp::ui::runGuarded(this, [this] { cmbPeriodTimeChange(); }); });
    // The one handler of the four pickers; the preset handler and the start-up sequence write
    // the pickers with their signals blocked, so only the user's edits reach it.
    auto dateChange = [this] { kp::ui::runGuarded(this, [this] { DateChange(); }); };
    connect(DateBegin, &QDateEdit::dateChanged, this, dateChange);
    connect(DateEnd, &QDateEdit::dateChanged, this, dateChange);
    connect(TimeBegin, &QTimeEdit::timeChanged, this, dateChange);
    connect(TimeEnd, &QTimeEdit::timeChanged, this, dateChange);
    setTabOrder(cmbPeriodTime, DateBegin);
    setTabOrder(DateBegin, TimeBegin);
    setTabOrder(TimeBegin, DateEnd);
    setTabOrder(DateEnd, TimeEnd);
    setTabOrder(TimeEnd, cmbTimeInterval);
    setTabOrder(cmbTimeInterval, rbtGSM);
    setTabOrder(rbtGSM, rbtUSB);

    Button1 = named(new QPushButton(QStringLiteral("Расчет"), pnlTop), "Button1");
    Button1->setGeometry(348, 24, 100, 30);
    Button2 = named(new QPushButton(QStringLiteral("Вывести отчет"), pnlTop), "Button2");
    Button2->setGeometry(348, 68, 100, 30);

    GroupBox3 = named(new QGroupBox(QStringLiteral("Текущая операция"), pnlTop), "GroupBox3");
    GroupBox3->setGeometry(453, 5, 255, 107);
    GroupBox3->installEventFilter(this);
    lblMessage = named(new QLabel(GroupBox3), "lblMessage");
    lblMessage->setAlignment(Qt::AlignCenter);
    lblMessage->setFont(pixelFont(font(), 12));
    ProgressBarOne = named(new QProgressBar(GroupBox3), "ProgressBarOne");
    ProgressBarOne->setRange(0, 100);
    ProgressBarOne->setValue(0);
    ProgressBarOne->setTextVisible(false);
    lblCurrID = named(new QLabel(GroupBox3), "lblCurrID");
    lblCurrID->setAlignment(Qt::AlignCenter);
    lblCurrID->setFont(pixelFont(font(), 9));
    return pnlTop;
}

QWidget *TForm1::buildChartAndGrid() {
    pnlBottom = named(new QWidget, "pnlBottom");
    auto *lay = new QVBoxLayout(pnlBottom);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);

    DBChart1 = named(new kp::chart::DbChart(pnlBottom), "DBChart1");
    DBChart1->setFixedHeight(270);
    DBChart1->setRightReserve(130);
    DBChart1->installEventFilter(this);
    lay->addWidget(DBChart1);

    rbtInOut = named(new QRadioButton(QStringLiteral("Вход./Выход."), DBChart1), "rbtInOut");
    rbtInOut->setChecked(true);
    rbtInOut->setEnabled(false);
    rbtSum = named(new QRadioButton(QStringLiteral("Перевезенные"), DBChart1), "rbtSum");
    rbtSum->setEnabled(false);

    GroupBox4 = named(new QGroupBox(QStringLiteral("Общее кол-во"), DBChart1), "GroupBox4");
    GroupBox4->resize(121, 139);
    QFont totals = pixelFont(font(), 15, true);
    auto totalLabel = [&](const char *name, const QString &text, int y) {
        auto *l = named(new QLabel(text, GroupBox4), name);
        l->setFont(totals);
        l->setAlignment(Qt::AlignCenter);
        l->setGeometry(2, y, 117, 22);
        return l;
    };
    Label11 = totalLabel("Label11", QStringLiteral("Входящих:"), 18);
    lblSumIN = totalLabel("lblSumIN", QStringLiteral("0"), 44);
    Label12 = totalLabel("Label12", QStringLiteral("Выходящих:"), 76);
    lblSumOUT = totalLabel("lblSumOUT", QStringLiteral("0"), 102);

    DBGrid1 = named(new QTableView(pnlBottom), "DBGrid1");
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setShowGrid(true);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->verticalHeader()->setVisible(true); // the row indicator
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    lay->addWidget(DBGrid1, 1);
    placeChartOverlays();
    return pnlBottom;
}

void TForm1::placeChartOverlays() {
    // The display-mode buttons and the totals box are anchored to the chart's right edge.
    int right = DBChart1->width();
    rbtInOut->setGeometry(right - 121 - 4, 72, 121, 17);
    rbtSum->setGeometry(right - 121 - 4, 95, 121, 17);
    GroupBox4->move(right - 121 - 4, 125);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Resize) {
        if (watched == DBChart1) {
            placeChartOverlays();
        } else if (watched == GroupBox1) {
            // The list boxes stretch with the box's width, keeping their right margin.
            int w = qMax(40, GroupBox1->width() - 73 - 6);
            int y[6] = {27, 54, 117, 144, 171, 198};
            QComboBox *boxes[6] = {cmbGroup, cmbSubGroup, cmbD1, cmbD2, cmbD3, cmbD4};
            for (int i = 0; i < 6; ++i) boxes[i]->setGeometry(73, y[i], w, 21);
            if (auto *l = GroupBox1->findChild<QLabel *>(QStringLiteral("lblInputs")))
                l->resize(qMax(164, GroupBox1->width() - 40), l->height());
        } else if (watched == pnlTop) {
            // The status area sits at the right end of the strip and stretches with it.
            int w = qMax(255, pnlTop->width() - 453 - 5);
            GroupBox3->setGeometry(453, 5, w, qMin(107, pnlTop->height() - 10));
        } else if (watched == GroupBox3) {
            int w = GroupBox3->width();
            int inner = w - 30;
            lblMessage->setGeometry(2, 18, w - 4, 22);
            ProgressBarOne->setGeometry(15, 46, inner, 10);
            lblCurrID->setGeometry(15, 60, inner, 16);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormShow() {
    if (shown_) return;
    shown_ = true;
    if (QScreen *s = screen()) move(s->availableGeometry().center() - rect().center());

    // 1. The window's server client, owned by the application object; the first read connects.
    if (!Automation) Automation = new TKelvonAutomation(QCoreApplication::instance());
    // 2. The result table lives beside the executable.
    ResultPath = kp::appDir() + QStringLiteral("/result.dbf");
    // 3. Both date pickers show today; the time pickers keep 08:00 and 20:00.
    const QDate today = kp::results::today();
    {
        const QSignalBlocker b1(DateBegin), b2(DateEnd);
        DateBegin->setDate(today);
        DateEnd->setDate(today);
    }
    // 4. The first talk to the server. An error here ends the application, before step 7, so a
    //    run that cannot reach the server creates no TS folder.
    FillCarsTree();
    // 5. IntervalsPerDay follows the preselected interval "1 час".
    cmbTimeIntervalChange();
    // 6.
    setStatusMessage(QStringLiteral("Ожидание"));
    // 7. The configuration directory, one level deep; a failure is ignored here and shows
    //    later as the write error of the configuration file.
    const QString ts = kp::appDir() + QStringLiteral("/TS");
    if (!QDir(ts).exists()) QDir().mkdir(ts);
}

void TForm1::cmbTimeIntervalChange() {
    // Nothing chosen leaves IntervalsPerDay as it is; the chart follows at its next rebuild.
    IntervalsPerDay =
        kp::results::intervalsPerDayForItem(cmbTimeInterval->currentIndex(), IntervalsPerDay);
}

void TForm1::cmbPeriodTimeChange() {
    const QSignalBlocker b1(DateBegin), b2(DateEnd), b3(TimeBegin), b4(TimeEnd);
    TimeBegin->setTime(QTime(0, 0));
    TimeEnd->setTime(QTime(0, 0));
    // Today is read when the item is picked.
    if (const auto dates =
            kp::results::presetDates(cmbPeriodTime->currentIndex(), kp::results::today())) {
        DateBegin->setDate(dates->begin);
        DateEnd->setDate(dates->end);
    }
}

void TForm1::DateChange() {
    // Back to "Произвольный" without running the preset handler: nothing else changes.
    cmbPeriodTime->setCurrentIndex(kp::results::PresetCustom);
}

void TForm1::setStatusMessage(const QString &text) { lblMessage->setText(text); }
void TForm1::setStatusDetail(const QString &text) { lblCurrID->setText(text); }
void TForm1::setStatusProgress(int maximum, int position) {
    ProgressBarOne->setMaximum(maximum);
    ProgressBarOne->setValue(position);
}

void TForm1::N3Click() { close(); }
