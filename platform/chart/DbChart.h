// The result chart: two bar series stacked on one date-time axis, passengers leaving below the
// axis. Kept free of qcustomplot.h so that only this module pays for that header.
#pragma once

#include <QString>
#include <QVector>
#include <QWidget>
#include <memory>

class QCustomPlot;
class QCPBars;

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

    // Distance between consecutive bottom-axis labels, in days.
    void setBottomAxisIncrement(double days);
    double bottomAxisIncrement() const { return increment_; }

    // Keeps a strip of the given width free at the right of the plot for the totals box.
    void setRightReserve(int pixels);

    // Fits the axes to the data and repaints.
    void refresh();

    QCustomPlot *plot() const { return plot_; }

private:
    QCustomPlot *plot_;
    QCPBars *bars_[2];
    double increment_ = 1.0 / 24.0;
};

} // namespace kp::chart
