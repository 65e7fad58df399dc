// The folder of the running executable, where the program keeps TS/, result.dbf, temp.dbf and
// trans.fr3. Computed once, without a trailing separator.
#pragma once

#include <QString>

namespace kp {

QString appDir();

// Tests only: point appDir() at a temporary folder. Not a setting of the program.
void setAppDirForTests(const QString &dir);

} // namespace kp
