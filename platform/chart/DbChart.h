// The result chart: two bar series stacked on one date-time axis, passengers leaving below the
// axis. Kept free of qcustomplot.h so that only this module pays for that header.
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>

class QAbstractItemModel;

class QCustomPlot;
class QCPBars;
class QCPLayoutGrid;

namespace kp::chart {

// One bar series: its title and points (x as a day number, y a passenger count).
struct SeriesData {
    QVector<double> x;
    QVector<double> y;
};

class DbChart : public QWidget {
    Q_OBJECT
public:
    explicit DbChart(QWidget *parent = nullptr);
    ~DbChart() override;

    QString title() const;
    QString bottomAxisTitle() const;
    QString leftAxisTitle() const;

    // Series 0 is Series1 ("Входящие"), series 1 is Series2 ("Выходящие", blue).
    int seriesCount() const { return 2; }
    QString seriesTitle(int series) const;
    void setSeriesTitle(int series, const QString &title);
    bool seriesActive(int series) const;
    void setSeriesActive(int series, bool active);
    void setSeriesData(int series, const SeriesData &data);
    int seriesPointCount(int series) const;
    // Detached series show nothing until they are given data again.
    void clearSeries(int series);

    // Reads a cell of the x column as a day number; false skips the row.
    using XReader = std::function<bool(const QVariant &, double *)>;
    // Binds a series to the rows of a model, the way a data-bound series follows its query:
    // x from column `xColumn` read by `readX`, y from column `yColumn`. The series is loaded at
    // once and again whenever the model is reset or gains rows. A null model detaches the series,
    // which then shows nothing.
    void setSeriesSource(int series, QAbstractItemModel *model, int xColumn, int yColumn,
                         XReader readX);
    void detachSeries(int series) { setSeriesSource(series, nullptr, -1, -1, {}); }
    QAbstractItemModel *seriesSource(int series) const { return sources_[series].model; }
    // The points of a series, x as day numbers.
    SeriesData seriesData(int series) const;

    // Distance between consecutive bottom-axis labels, in days.
    void setBottomAxisIncrement(double days);
    double bottomAxisIncrement() const { return increment_; }
    // The bottom axis labels as they are drawn for the current range.
    QStringList bottomAxisLabels() const;

    // Keeps a strip of the given width free at the right of the plot for the totals box.
    void setRightReserve(int pixels);

    // Fits the axes to the data and repaints.
    void refresh();

    QCustomPlot *plot() const { return plot_; }

private:
    struct Source {
        QPointer<QAbstractItemModel> model;
        int xColumn = -1;
        int yColumn = -1;
        XReader readX;
        QList<QMetaObject::Connection> connections;
    };
    void loadSeries(int series);

    Source sources_[2];
    QCustomPlot *plot_;
    QCPBars *bars_[2];
    QCPLayoutGrid *strip_ = nullptr; // the legend's column at the right, once reserved
    double increment_ = 1.0 / 24.0;
};

} // namespace kp::chart
