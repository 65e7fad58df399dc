// What kind of number a value read from a table or a query holds.
#pragma once

#include <QVariant>

namespace kp {

// Any of Qt's integer types, signed or not, of any width.
bool isIntegerVariant(const QVariant &v);

// An integer type, or double or float.
bool isNumberVariant(const QVariant &v);

} // namespace kp
