#include "Variants.h"

namespace kp {

bool isIntegerVariant(const QVariant &v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

bool isNumberVariant(const QVariant &v) {
    return isIntegerVariant(v) || v.typeId() == QMetaType::Double ||
           v.typeId() == QMetaType::Float;
}

} // namespace kp
