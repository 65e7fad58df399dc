#include "Addchange.h"

#include "platform/ui/MessageBoxes.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

TForm3::TForm3(const QString &caption, const QString &text, const QString &confirmCaption,
               QString &newName, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint), newName_(newName) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(caption);
    QFont f = QApplication::font();
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(238, 100);

    Edit1 = new QLineEdit(text, this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(23, 15, 187, 21);
    Button1 = new QPushButton(confirmCaption, this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(23, 58, 75, 25);
    Button2 = new QPushButton(QStringLiteral("Отмена"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(135, 58, 75, 25);
    // No default button: Enter confirms nothing.
    for (QPushButton *b : {Button1, Button2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    connect(Button1, &QPushButton::clicked, this,
            [this] { kp::ui::runGuarded(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { kp::ui::runGuarded(this, [this] { Button2Click(); }); });

    if (QScreen *s = parent ? parent->screen() : QApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void TForm3::Button1Click() {
    const QString text = Edit1->text();
    if (text.isEmpty()) {
        newName_.clear();
        kp::ui::showMessageEmptyTitle(QStringLiteral("Новое имя не может быть пустым"), this);
        QDialog::done(QDialog::Rejected);
        return;
    }
    newName_ = text; // exactly as typed: blanks are kept
    QDialog::done(QDialog::Accepted);
}

void TForm3::Button2Click() { reject(); }

void TForm3::reject() {
    newName_.clear();
    QDialog::reject();
}
