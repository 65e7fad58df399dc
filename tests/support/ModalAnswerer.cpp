#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>

namespace kp::test {

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer, QObject *parent)
    : QObject(parent), answer_(answer) {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer_.start();
}

ModalAnswerer::~ModalAnswerer() = default;

void ModalAnswerer::poll() {
    QWidget *w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) return;
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
        SeenBox s{box->windowTitle(), box->text(), box->objectName(), box->icon(), {}};
        for (QAbstractButton *b : box->buttons()) s.buttons << b->text();
        seen_ << s;
        QAbstractButton *b = box->button(answer_);
        if (!b && !box->buttons().isEmpty()) b = box->buttons().first();
        if (b)
            b->click();
        else
            box->reject();
        return;
    }
    if (custom_ && custom_(w)) return;
    seen_ << SeenBox{w->windowTitle(), QString(), w->objectName(), QMessageBox::NoIcon, {}};
    if (auto *d = qobject_cast<QDialog *>(w)) d->reject();
}

} // namespace kp::test
