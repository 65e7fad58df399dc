// The exception classes the system raises. Every failure that reaches the user is one of these;
// the message is the text shown to the user, already in the user's language.
#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <string>

namespace kp {

// Base class of every error the system raises on purpose.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : msg_(std::move(message)), utf8_(msg_.toStdString()) {}
    const QString &message() const noexcept { return msg_; }
    const char *what() const noexcept override { return utf8_.c_str(); }

private:
    QString msg_;
    std::string utf8_;
};

// Automation failures. A HRESULT is kept as its 32-bit pattern (0x80004005 and so on).
using HResult = std::int32_t;

class EOleError : public Exception {
public:
    using Exception::Exception;
};

// A failed system call of the automation layer (no server, no interface).
class EOleSysError : public EOleError {
public:
    EOleSysError(QString message, HResult code) : EOleError(std::move(message)), code_(code) {}
    HResult errorCode() const noexcept { return code_; }

private:
    HResult code_;
};

// A failure the server reported, carried to the caller with where it came from.
class EOleException : public EOleSysError {
public:
    EOleException(QString message, HResult code, QString source, QString helpFile = {},
                  int helpContext = 0)
        : EOleSysError(std::move(message), code), source_(std::move(source)),
          helpFile_(std::move(helpFile)), helpContext_(helpContext) {}
    const QString &source() const noexcept { return source_; }
    const QString &helpFile() const noexcept { return helpFile_; }
    int helpContext() const noexcept { return helpContext_; }

private:
    QString source_;
    QString helpFile_;
    int helpContext_;
};

// A configuration file could not be written ("Unable to write to <path>").
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// A failure of the local SQL layer: the message names the table's path and the cause.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

} // namespace kp
