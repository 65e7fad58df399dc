#include "HResult.h"

#include <QStringView>

namespace kp::hr {

namespace {
struct TextRow {
    HResult code;
    const char16_t *ru;
    const char16_t *en;
};

// The codes our client, the bus link and the monitoring server produce.
constexpr TextRow texts[] = {
    {E_NOTIMPL, u"Не реализовано", u"Not implemented"},
    {E_NOINTERFACE, u"Интерфейс не поддерживается", u"No such interface supported"},
    {E_POINTER, u"Недопустимый указатель", u"Invalid pointer"},
    {E_ABORT, u"Операция прервана", u"Operation aborted"},
    {E_FAIL, u"Неопознанная ошибка", u"Unspecified error"},
    {E_UNEXPECTED, u"Непредвиденная ошибка", u"Unexpected failure"},
    {E_ACCESSDENIED, u"Отказано в доступе.", u"Access is denied."},
    {E_OUTOFMEMORY, u"Недостаточно памяти для завершения операции.",
     u"Not enough memory to complete this operation."},
    {E_INVALIDARG, u"Параметр задан неверно.", u"The parameter is incorrect."},
    {DISP_E_MEMBERNOTFOUND, u"Элемент не найден.", u"Member not found."},
    {DISP_E_TYPEMISMATCH, u"Несоответствие типа.", u"Type mismatch."},
    {DISP_E_BADINDEX, u"Недопустимый индекс.", u"Invalid index."},
    {RPC_E_DISCONNECTED, u"Вызванный объект отключился от своих клиентов.",
     u"The object invoked has disconnected from its clients."},
    {RPC_E_TIMEOUT, u"Истекло время ожидания ответа.",
     u"This operation returned because the timeout period expired."},
    {RPC_S_SERVER_UNAVAILABLE, u"Сервер RPC недоступен.", u"The RPC server is unavailable."},
    {REGDB_E_CLASSNOTREG, u"Класс не зарегистрирован", u"Class not registered"},
    {CO_E_SERVER_EXEC_FAILURE, u"Ошибка при выполнении сервера", u"Server execution failed"},
    {STG_E_WRITEFAULT, u"Ошибка записи на диск.",
     u"A disk error occurred during a write operation."},
};
} // namespace

QString systemText(HResult h, const QLocale &locale) {
    const bool russian = locale.language() == QLocale::Russian;
    for (const TextRow &row : texts) {
        if (row.code == h) return QString::fromUtf16(russian ? row.ru : row.en);
    }
    return {};
}

QString hex(HResult h) {
    return QStringLiteral("%1").arg(static_cast<quint32>(h), 8, 16, QLatin1Char('0')).toUpper();
}

QString errorMessage(HResult h, const QString &description) {
    return hex(h) + QStringLiteral(": ") + description;
}

HResult fromDBusError(const QString &errorName, const QString &message) {
    static const QString prefix = QStringLiteral("org.freedesktop.DBus.Error.");
    if (errorName == QLatin1String("org.kelvon.Error.HResult")) {
        bool ok = false;
        const quint32 v = QStringView(message).left(8).toUInt(&ok, 16);
        if (ok && message.size() >= 8) return static_cast<HResult>(v);
        return E_FAIL;
    }
    if (!errorName.startsWith(prefix)) return E_FAIL;
    const QStringView tail = QStringView(errorName).mid(prefix.size());
    if (tail == u"ServiceUnknown" || tail == u"NameHasNoOwner") return RPC_S_SERVER_UNAVAILABLE;
    if (tail == u"NoReply" || tail == u"Timeout" || tail == u"TimedOut") return RPC_E_TIMEOUT;
    if (tail == u"Disconnected") return RPC_E_DISCONNECTED;
    if (tail == u"UnknownMethod" || tail == u"UnknownObject" || tail == u"UnknownInterface")
        return DISP_E_MEMBERNOTFOUND;
    if (tail == u"InvalidArgs" || tail == u"InvalidSignature") return E_INVALIDARG;
    if (tail == u"NoMemory") return E_OUTOFMEMORY;
    if (tail == u"AccessDenied") return E_ACCESSDENIED;
    return E_FAIL;
}

} // namespace kp::hr
