// kelvon-passengers: passenger counts per interval from the door counters of the fleet.
#include "Application.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    kp::app::installApplicationFont(app);
    return kp::app::runApplication(app);
}
