// Developer tool: starts the main window offscreen and writes a picture of it, so that anyone
// can look at the window without a desktop. Usage: kp-screenshot OUTPUT_FOLDER
#include "Application.h"
#include "Mainform.h"
#include "app/CarsTreeView.h"

#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTreeView>
#include <QDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kp-screenshot OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    kp::app::installApplicationFont(app);
    int rc = 1;
    kp::app::runApplication(app, [&](TForm1 &w) {
        w.FormShow();
        QTimer::singleShot(300, &w, [&] {
            rc = w.grab().save(out + QStringLiteral("/main-window.png")) ? 0 : 1;
            if (rc != 0) {
                w.close();
                return;
            }
            // Then the window after a calculation: every vehicle under the first node (the
            // demo fleet, with the wiring of TS/Cars.ini), the previous day in hours.
            auto *tree = w.trvCars;
            tree->selectionModel()->select(tree->model()->index(0, 0),
                                           QItemSelectionModel::ClearAndSelect);
            w.cmbPeriodTime->setCurrentIndex(4); // "За предыдущие сутки"
            w.cmbPeriodTimeChange();
            w.cmbTimeInterval->setCurrentIndex(0);
            w.cmbTimeIntervalChange();
            w.Button1Click();
            auto *poll = new QTimer(&w);
            QObject::connect(poll, &QTimer::timeout, &w, [&w, &rc, &out, poll] {
                // A box at the end of the run (a failure list) is answered, so that the
                // picture shows the window.
                if (QWidget *modal = QApplication::activeModalWidget()) modal->close();
                if (!w.CalcThread.isNull() || !w.Button2->isEnabled()) return;
                poll->stop();
                rc = w.grab().save(out + QStringLiteral("/result.png")) ? 0 : 1;
                w.close();
            });
            poll->start(100);
        });
        // A run that never ends fails the tool instead of hanging it.
        QTimer::singleShot(300000, &w, [&] {
            std::fprintf(stderr, "kp-screenshot: the calculation did not end\n");
            rc = 1;
            w.close();
        });
    });
    return rc;
}
