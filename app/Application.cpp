#include "Application.h"

#include "Mainform.h"
#include "platform/ui/MessageBoxes.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>

namespace kp::app {

void installApplicationFont(QApplication &app) {
    QString family;
    const QString tahoma = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    if (QFile::exists(tahoma)) {
        int id = QFontDatabase::addApplicationFont(tahoma);
        if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty())
            family = QFontDatabase::applicationFontFamilies(id).first();
    }
    if (family.isEmpty()) {
        const QStringList fallbacks = QFontDatabase::families(QFontDatabase::Cyrillic);
        for (const char *f : {"Tahoma", "DejaVu Sans", "Liberation Sans"})
            if (fallbacks.contains(QString::fromLatin1(f))) {
                family = QString::fromLatin1(f);
                break;
            }
    }
    QFont font = family.isEmpty() ? QApplication::font() : QFont(family);
    font.setPixelSize(11);
    app.setFont(font);
}

int runApplication(QApplication &app, const std::function<void(TForm1 &)> &startup) {
    try {
        TForm1 window;
        Form1 = &window;
        window.show();
        if (startup)
            startup(window);
        else
            window.FormShow();
        app.exec();
    } catch (const std::exception &e) {
        Form1 = nullptr;
        kp::ui::showException(e);
    } catch (...) {
        Form1 = nullptr;
        kp::ui::showExceptionMessage(QString());
    }
    return 0;
}

} // namespace kp::app
