// Answers modal boxes and dialogs in tests: a repeating timer finds the active modal widget,
// records what it showed and answers it, with a guard so that a test never hangs on a box.
#pragma once

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace kp::test {

struct SeenBox {
    QString title;
    QString text;
    QString objectName;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons; // texts of the box's buttons
};

class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    // `answer` is the button pressed in a QMessageBox (QMessageBox::Ok by default). Other modal
    // dialogs are handed to `custom` when set, otherwise rejected.
    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok,
                           QObject *parent = nullptr);
    ~ModalAnswerer() override;

    void setAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
    void setCustom(std::function<bool(QWidget *)> custom) { custom_ = std::move(custom); }

    const QList<SeenBox> &seen() const { return seen_; }
    int count() const { return seen_.size(); }

private:
    void poll();

    QTimer timer_;
    QMessageBox::StandardButton answer_;
    std::function<bool(QWidget *)> custom_;
    QList<SeenBox> seen_;
};

} // namespace kp::test
