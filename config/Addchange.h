// The name dialog TForm3: one line of text for a new or changed group or subgroup name, with a
// confirm button captioned by the caller and "Отмена". Only an empty name is refused.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // `newName` is the editor's pending name: it receives the confirmed text and is emptied by a
    // cancel or a refused empty name.
    TForm3(const QString &caption, const QString &text, const QString &confirmCaption,
           QString &newName, QWidget *parent = nullptr);

    QLineEdit *Edit1;
    QPushButton *Button1; // confirm: "Добавить" or "Изменить"
    QPushButton *Button2; // "Отмена"

    void Button1Click();
    void Button2Click();

public slots:
    void reject() override; // Esc, like "Отмена"

private:
    QString &newName_;
};
