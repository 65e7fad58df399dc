#include "MessageBoxes.h"

#include "platform/core/Exceptions.h"

#include <QMessageBox>

namespace kp::ui {

QString applicationTitle() { return QStringLiteral("Кельвон: Мониторинг транспорта"); }

QString errorMessage(const std::exception &e) {
    if (auto k = dynamic_cast<const kp::Exception *>(&e)) return k->message();
    return {};
}

void showExceptionMessage(const QString &message, QWidget *parent) {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), message, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ExceptionBox"));
    box.exec();
}

void showException(const std::exception &e, QWidget *parent) {
    showExceptionMessage(errorMessage(e), parent);
}

void showMessageEmptyTitle(const QString &text, QWidget *parent) {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void runGuarded(QWidget *parent, const std::function<void()> &handler) {
    try {
        handler();
    } catch (const std::exception &e) {
        showException(e, parent);
    } catch (...) {
        showExceptionMessage(QString(), parent);
    }
}

} // namespace kp::ui
