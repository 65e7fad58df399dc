#include "DbChart.h"

#include <qcustomplot.h>

#include <QAbstractItemModel>
#include <QTimeZone>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kp::chart {

namespace {
// Day numbers count from 30.12.1899; the axis works in seconds since 01.01.1970 (day 25569),
// read as UTC so that wall-clock moments are never shifted by a time zone.
constexpr double kUnixEpochDay = 25569.0;
double toAxisKey(double day) { return (day - kUnixEpochDay) * 86400.0; }
double fromAxisKey(double key) { return key / 86400.0 + kUnixEpochDay; }

// Date-time labels exactly one interval apart, counted from the first bar.
class IntervalTicker : public QCPAxisTickerDateTime {
public:
    double step = 3600.0;

protected:
    double getTickStep(const QCPRange &) override { return step; }
    int getSubTickCount(double) override { return 0; }
    // To the nearest millisecond: a tick a hair below the hour must not read as :59.
    QString getTickLabel(double tick, const QLocale &locale, QChar, int) override {
        const QDateTime t =
            QDateTime::fromMSecsSinceEpoch(std::llround(tick * 1000.0), QTimeZone::utc());
        return locale.toString(t, dateTimeFormat());
    }
};

QFont boldFont(const QFont &base) {
    QFont f = base;
    f.setBold(true);
    return f;
}
} // namespace

DbChart::DbChart(QWidget *parent) : QWidget(parent), plot_(new QCustomPlot(this)) {
    auto *lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(plot_);

    plot_->plotLayout()->insertRow(0);
    auto *title = new QCPTextElement(
        plot_, QStringLiteral("Зависимость кол-ва перевезенных пассажиров от времени"),
        boldFont(font()));
    title->setObjectName(QStringLiteral("title"));
    plot_->plotLayout()->addElement(0, 0, title);

    QCPAxis *x = plot_->xAxis;
    QCPAxis *y = plot_->yAxis;
    auto ticker = QSharedPointer<IntervalTicker>::create();
    ticker->setDateTimeFormat(QStringLiteral("dd.MM  hh:mm"));
    ticker->setDateTimeSpec(Qt::UTC); // keys are wall-clock moments, never shifted by a zone
    x->setTicker(ticker);
    x->setTickLabelRotation(90);
    QFont small = font();
    small.setPixelSize(9);
    x->setTickLabelFont(small);
    x->setSubTicks(false);
    x->setLabel(QStringLiteral("Дата"));
    x->setLabelFont(boldFont(font()));
    y->setLabel(QStringLiteral("Кол-во"));
    y->setLabelFont(boldFont(font()));

    const QString titles[2] = {QStringLiteral("Входящие"), QStringLiteral("Выходящие")};
    const QColor colours[2] = {QColor(255, 0, 0), QColor(0, 0, 255)};
    for (int i = 0; i < 2; ++i) {
        bars_[i] = new QCPBars(x, y);
        bars_[i]->setName(titles[i]);
        bars_[i]->setWidthType(QCPBars::wtPlotCoords);
        QLinearGradient g(0, 0, 1, 0);
        g.setCoordinateMode(QGradient::ObjectBoundingMode);
        g.setColorAt(0, colours[i].lighter(170));
        g.setColorAt(1, colours[i]);
        bars_[i]->setBrush(QBrush(g));
        bars_[i]->setPen(QPen(colours[i].darker(130)));
    }
    // Stacked: Series2 sits on Series1; its negative values grow downwards from the axis.
    bars_[1]->moveAbove(bars_[0]);
    setBottomAxisIncrement(increment_);

    plot_->legend->setVisible(true);
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    for (int i = 0; i < 2; ++i)
        if (auto *item = plot_->legend->itemWithPlottable(bars_[i])) item->setTextColor(colours[i]);
}

DbChart::~DbChart() {
    for (auto &s : sources_)
        for (const auto &c : s.connections)
            disconnect(c);
}

QString DbChart::title() const {
    auto *t = qobject_cast<QCPTextElement *>(plot_->plotLayout()->element(0, 0));
    return t ? t->text() : QString();
}
QString DbChart::bottomAxisTitle() const { return plot_->xAxis->label(); }
QString DbChart::leftAxisTitle() const { return plot_->yAxis->label(); }

QString DbChart::seriesTitle(int s) const { return bars_[s]->name(); }
void DbChart::setSeriesTitle(int s, const QString &t) { bars_[s]->setName(t); }
bool DbChart::seriesActive(int s) const { return bars_[s]->visible(); }

void DbChart::setSeriesActive(int s, bool active) {
    bars_[s]->setVisible(active);
    if (active)
        bars_[s]->addToLegend();
    else
        bars_[s]->removeFromLegend();
}

void DbChart::setSeriesData(int s, const SeriesData &d) {
    QVector<double> keys(d.x.size());
    for (int i = 0; i < d.x.size(); ++i)
        keys[i] = toAxisKey(d.x[i]);
    bars_[s]->setData(keys, d.y, false); // sorts by x
}
int DbChart::seriesPointCount(int s) const { return bars_[s]->data()->size(); }
void DbChart::clearSeries(int s) { bars_[s]->data()->clear(); }

SeriesData DbChart::seriesData(int s) const {
    SeriesData d;
    for (auto it = bars_[s]->data()->constBegin(); it != bars_[s]->data()->constEnd(); ++it) {
        d.x << fromAxisKey(it->key);
        d.y << it->value;
    }
    return d;
}

void DbChart::setSeriesSource(int s, QAbstractItemModel *model, int xColumn, int yColumn,
                              XReader readX) {
    Source &src = sources_[s];
    for (const auto &c : src.connections)
        disconnect(c);
    src.connections.clear();
    src.model = model;
    src.xColumn = xColumn;
    src.yColumn = yColumn;
    src.readX = std::move(readX);
    if (model) {
        auto reload = [this, s] { loadSeries(s); };
        src.connections << connect(model, &QAbstractItemModel::modelReset, this, reload)
                        << connect(model, &QAbstractItemModel::rowsInserted, this, reload)
                        << connect(model, &QAbstractItemModel::rowsRemoved, this, reload)
                        << connect(model, &QAbstractItemModel::dataChanged, this, reload)
                        << connect(model, &QAbstractItemModel::layoutChanged, this, reload)
                        << connect(model, &QObject::destroyed, this, [this, s] {
                               sources_[s].model = nullptr;
                               clearSeries(s);
                           });
    }
    loadSeries(s);
}

void DbChart::loadSeries(int s) {
    const Source &src = sources_[s];
    QAbstractItemModel *m = src.model;
    if (!m) {
        clearSeries(s);
        return;
    }
    while (m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
    SeriesData d;
    const int rows = m->rowCount();
    const int columns = m->columnCount();
    if (src.xColumn >= 0 && src.xColumn < columns && src.yColumn >= 0 && src.yColumn < columns) {
        d.x.reserve(rows);
        d.y.reserve(rows);
        for (int r = 0; r < rows; ++r) {
            double x = 0;
            const QVariant xv = m->data(m->index(r, src.xColumn), Qt::EditRole);
            if (!src.readX || !src.readX(xv, &x)) continue;
            d.x << x;
            d.y << m->data(m->index(r, src.yColumn), Qt::EditRole).toDouble();
        }
    }
    setSeriesData(s, d);
}

void DbChart::setBottomAxisIncrement(double days) {
    increment_ = days;
    // The ticker works in seconds; a bar is a fifth of the interval wide.
    // Whole milliseconds, so that the ticks do not drift from the interval starts.
    if (auto t = plot_->xAxis->ticker().dynamicCast<IntervalTicker>())
        t->step = std::round(days * 86400.0 * 1000.0) / 1000.0;
    for (auto *b : bars_)
        b->setWidth(days * 86400.0 * 0.2);
}

QStringList DbChart::bottomAxisLabels() const {
    QVector<double> ticks;
    QVector<QString> labels;
    QCPAxis *x = plot_->xAxis;
    x->ticker()->generate(x->range(), QLocale(), 'g', x->numberPrecision(), ticks, nullptr,
                          &labels);
    return QStringList(labels.begin(), labels.end());
}

void DbChart::setRightReserve(int pixels) {
    // A column of its own right of the plot: the legend at its top, where it hides no bar, and
    // below it the free space the window's controls stand on.
    if (!strip_) {
        strip_ = new QCPLayoutGrid;
        plot_->plotLayout()->addElement(1, 1, strip_);
        plot_->plotLayout()->setColumnStretchFactor(1, 0.001);
        plot_->axisRect()->insetLayout()->take(plot_->legend);
        strip_->addElement(0, 0, plot_->legend);
        strip_->addElement(1, 0, new QCPLayoutElement(plot_));
        strip_->setRowStretchFactor(0, 0.001);
        strip_->setRowSpacing(0);
        strip_->setAutoMargins(QCP::msNone);
        strip_->setMargins(QMargins(6, 0, 8, 0)); // the legend's frame stays whole
        plot_->legend->setMargins(QMargins(4, 2, 4, 2));
    }
    strip_->setMinimumSize(pixels, 0);
    strip_->setMaximumSize(pixels, QWIDGETSIZE_MAX);
}

void DbChart::refresh() {
    plot_->rescaleAxes();
    // The labels stand at the bars' own moments (the key range of a bar series includes the
    // bars' width, so it is not the first moment).
    bool found = false;
    double first = 0, last = 0;
    for (QCPBars *b : bars_) {
        if (!b->visible() || b->data()->isEmpty()) continue;
        const double lo = b->data()->constBegin()->key;
        const double hi = (b->data()->constEnd() - 1)->key;
        first = found ? std::min(first, lo) : lo;
        last = found ? std::max(last, hi) : hi;
        found = true;
    }
    // Some room above and below the tallest bars, the axis line always in view.
    QCPRange values = plot_->yAxis->range();
    values.lower = std::min(values.lower, 0.0);
    values.upper = std::max(values.upper, 0.0);
    const double margin = (values.upper - values.lower) * 0.08;
    plot_->yAxis->setRange(values.lower - (values.lower < 0 ? margin : 0),
                           values.upper + (values.upper > 0 ? margin : 0));
    if (found) {
        plot_->xAxis->ticker()->setTickOrigin(first);
        const double pad = increment_ * 86400.0 * 0.5;
        plot_->xAxis->setRange(first - pad, last + pad);
    }
    plot_->replot();
}

} // namespace kp::chart
