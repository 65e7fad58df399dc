// The application's message boxes: the standard exception display, the box with an empty
// title, and a guard that turns an error escaping a window handler into that display.
#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace kp::ui {

// Title of the application's own boxes (the standard exception display).
QString applicationTitle();

// The message of an error as the user sees it: our own errors carry their text; anything else
// gives an empty message, as the entry point of the old program did.
QString errorMessage(const std::exception &e);

// The application's standard exception display: a box titled with the application's title,
// the error icon, the error's message and one OK button.
void showException(const std::exception &e, QWidget *parent = nullptr);
void showExceptionMessage(const QString &message, QWidget *parent = nullptr);

// A box with an empty title, the text and one OK button.
void showMessageEmptyTitle(const QString &text, QWidget *parent = nullptr);

// Runs a window handler; an error it raises is shown by the standard exception display and the
// application keeps running. Qt must never see an exception escape into its event loop.
void runGuarded(QWidget *parent, const std::function<void()> &handler);

} // namespace kp::ui
