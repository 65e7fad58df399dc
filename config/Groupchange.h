// The group list editor TForm2: adds and renames the groups of GroupLVL1.ini and the subgroups
// of each group in GroupLVL2.ini. Every change is written at once and the list is reloaded from
// the file; nothing is deleted or reordered here.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);

    QComboBox *cmbGroup;
    QComboBox *cmbSubGroup;
    QPushButton *btnAddGroup;
    QPushButton *btnChangeGroup;
    QPushButton *btnChangeSubGroup;
    QPushButton *btnAddSubGroup;
    QLabel *Label1;
    QLabel *Label4;

    // The pending name of the add or rename in progress; empty when none was confirmed.
    QString NewName;

    void FormShow();
    void cmbGroupChange();
    void cmbSubGroupChange();
    void btnAddGroupClick();
    void btnChangeGroupClick();
    void btnAddSubGroupClick();
    void btnChangeSubGroupClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void loadGroups();
    void loadSubGroups();
    // Opens the name dialog with an empty NewName, modally; NewName holds the confirmed name.
    void askName(const QString &caption, const QString &text, const QString &confirmCaption);
    int selectedGroup() const;    // 1-based, 0 when none is selected
    int selectedSubGroup() const; // 1-based, 0 when none is selected

    bool shown_ = false;
};

// The editor while it is open.
extern TForm2 *Form2;
