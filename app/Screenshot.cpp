// Developer tool: starts the main window offscreen and writes a picture of it, so that anyone
// can look at the window without a desktop. Usage: kp-screenshot OUTPUT_FOLDER
#include "Application.h"
#include "Mainform.h"

#include <QApplication>
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
            w.close();
        });
    });
    return rc;
}
