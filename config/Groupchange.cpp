#include "Groupchange.h"

#include "config/Addchange.h"
#include "config/ConfigFiles.h"
#include "platform/ui/MessageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

TForm2 *Form2 = nullptr;

namespace {

template <class W> W *named(W *w, const char *name, int x, int y, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    return w;
}

} // namespace

TForm2::TForm2(QWidget *parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Редактирование списка групп"));
    QFont f = QApplication::font();
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(239, 159);

    Label1 = named(new QLabel(QStringLiteral("Группа:"), this), "Label1", 22, 20, 60, 13);
    Label4 = named(new QLabel(QStringLiteral("Подгруппа:"), this), "Label4", 22, 92, 60, 13);
    cmbGroup = named(new QComboBox(this), "cmbGroup", 88, 17, 125, 21);
    cmbSubGroup = named(new QComboBox(this), "cmbSubGroup", 88, 89, 125, 21);
    btnAddGroup =
        named(new QPushButton(QStringLiteral("Добавить"), this), "btnAddGroup", 22, 44, 85, 25);
    btnChangeGroup =
        named(new QPushButton(QStringLiteral("Изменить"), this), "btnChangeGroup", 128, 44, 85, 25);
    btnChangeSubGroup = named(new QPushButton(QStringLiteral("Изменить"), this),
                              "btnChangeSubGroup", 128, 116, 85, 25);
    btnAddSubGroup =
        named(new QPushButton(QStringLiteral("Добавить"), this), "btnAddSubGroup", 22, 116, 85, 25);
    for (QComboBox *c : {cmbGroup, cmbSubGroup})
        c->setEditable(false);
    for (QPushButton *b : {btnAddGroup, btnChangeGroup, btnChangeSubGroup, btnAddSubGroup})
        b->setAutoDefault(false); // Enter presses nothing; Space presses the focused button
    btnChangeGroup->setEnabled(false);
    btnChangeSubGroup->setEnabled(false);
    btnAddSubGroup->setEnabled(false);

    setTabOrder(cmbGroup, cmbSubGroup);
    setTabOrder(cmbSubGroup, btnAddGroup);
    setTabOrder(btnAddGroup, btnChangeGroup);
    setTabOrder(btnChangeGroup, btnChangeSubGroup);
    setTabOrder(btnChangeSubGroup, btnAddSubGroup);

    auto guarded = [this](void (TForm2::*handler)()) {
        return
            [this, handler] { kp::ui::runGuarded(this, [this, handler] { (this->*handler)(); }); };
    };
    connect(cmbGroup, &QComboBox::activated, this, guarded(&TForm2::cmbGroupChange));
    connect(cmbSubGroup, &QComboBox::activated, this, guarded(&TForm2::cmbSubGroupChange));
    connect(btnAddGroup, &QPushButton::clicked, this, guarded(&TForm2::btnAddGroupClick));
    connect(btnChangeGroup, &QPushButton::clicked, this, guarded(&TForm2::btnChangeGroupClick));
    connect(btnAddSubGroup, &QPushButton::clicked, this, guarded(&TForm2::btnAddSubGroupClick));
    connect(btnChangeSubGroup, &QPushButton::clicked, this,
            guarded(&TForm2::btnChangeSubGroupClick));

    if (QScreen *s = QApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void TForm2::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    kp::ui::runGuarded(this, [this] { FormShow(); });
}

void TForm2::FormShow() { loadGroups(); }

int TForm2::selectedGroup() const { return cmbGroup->currentIndex() + 1; }
int TForm2::selectedSubGroup() const { return cmbSubGroup->currentIndex() + 1; }

void TForm2::loadGroups() {
    cmbGroup->clear();
    cmbSubGroup->clear();
    cmbGroup->addItems(kp::config::GroupsFile().names());
    cmbGroup->setCurrentIndex(-1); // no group is selected after a load
    btnChangeGroup->setEnabled(false);
    btnAddSubGroup->setEnabled(false);
    btnChangeSubGroup->setEnabled(false);
}

void TForm2::loadSubGroups() {
    const bool group = selectedGroup() > 0;
    btnChangeGroup->setEnabled(group);
    btnAddSubGroup->setEnabled(group);
    cmbSubGroup->clear();
    cmbSubGroup->addItems(kp::config::SubgroupsFile().names(selectedGroup()));
    cmbSubGroup->setCurrentIndex(-1);
    btnChangeSubGroup->setEnabled(false);
}

void TForm2::cmbGroupChange() { loadSubGroups(); }

void TForm2::cmbSubGroupChange() { btnChangeSubGroup->setEnabled(selectedSubGroup() > 0); }

void TForm2::askName(const QString &caption, const QString &text, const QString &confirmCaption) {
    NewName.clear();
    TForm3 dialog(caption, text, confirmCaption, NewName, this);
    dialog.exec();
}

void TForm2::btnAddGroupClick() {
    askName(QStringLiteral("Добавление новой группы"), QString(), QStringLiteral("Добавить"));
    if (NewName.isEmpty()) return;
    kp::config::GroupsFile().add(NewName);
    loadGroups();
}

void TForm2::btnChangeGroupClick() {
    const int g = selectedGroup();
    if (g <= 0) return;
    askName(QStringLiteral("Изменение группы"), cmbGroup->currentText(),
            QStringLiteral("Изменить"));
    if (NewName.isEmpty()) return;
    kp::config::GroupsFile().rename(g, NewName);
    loadGroups();
}

void TForm2::btnAddSubGroupClick() {
    const int g = selectedGroup();
    if (g > 0) {
        askName(QStringLiteral("Добавление новой подгруппы"), QString(),
                QStringLiteral("Добавить"));
        if (!NewName.isEmpty()) {
            kp::config::SubgroupsFile().add(g, NewName);
            loadSubGroups();
        }
    }
    cmbSubGroupChange();
}

void TForm2::btnChangeSubGroupClick() {
    const int g = selectedGroup();
    const int s = selectedSubGroup();
    if (g <= 0 || s <= 0) return;
    askName(QStringLiteral("Изменение подгруппы"), cmbSubGroup->currentText(),
            QStringLiteral("Изменить"));
    if (NewName.isEmpty()) return;
    kp::config::SubgroupsFile().rename(g, s, NewName);
    loadSubGroups();
}
