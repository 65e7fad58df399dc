// One INI file, read and written like the Windows private-profile functions do it. An IniFile
// lives for one operation: it reads the file when it is made, every write goes to the disk at
// once (the whole file replaced through a temporary file), and nothing outlives it.
#pragma once

#include "config/IniDocument.h"
#include "config/IniIo.h"

#include <QString>

namespace kp::config {

class IniFile {
public:
    explicit IniFile(const QString &path, IniIo &io = IniIo::system());

    // The full path, as named in the write error.
    const QString &fileName() const { return path_; }

    // A missing file, section or key, or a key without "=", yields the default.
    QString readString(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // The value must be a whole 32-bit integer: an optional sign and decimal digits, or
    // hexadecimal as 0x1A or $1A. Anything else yields the default.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;

    // Raise kp::EIniFileException "Unable to write to <full path>" when the file cannot be
    // written; the file is then exactly as it was. Writing the value already there does nothing.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);

    // Whether writeString could store this text at all (no line breaks, characters the
    // file's encoding holds). Callers that make several writes check first, so that a text
    // that cannot be stored stops them before their first write.
    bool canWrite(const QString &section, const QString &key, const QString &value) const;

    // Raises the write error of this file.
    [[noreturn]] void raiseWriteError() const;

private:
    QString path_;
    IniIo &io_;
    bool unreadable_ = false;
    IniDocument doc_;
};

// The integer a value stands for under the rules above; nothing when it is not an integer.
std::optional<int> parseIniInteger(const QString &text);

} // namespace kp::config
