#include "Kelvon_tlb.h"

#include <QHash>
#include <array>

namespace kp::kelvon {

const QUuid CLSID_KelvonAutomation(QStringLiteral("{bf924d2e-5b18-4fb5-9f00-a6804802ef9e}"));
const QUuid IID_IKelvonAutomation(QStringLiteral("{89cb9cfe-f8df-48fb-8a1b-a3cfc4f57f58}"));
const QUuid DIID_IKelvonAutomationEvents(QStringLiteral("{ea559d9b-9ae0-4b51-9629-a287722f71a9}"));
const QUuid LIBID_Kelvon(QStringLiteral("{b132410d-e0a7-4552-a4f0-beece5b185fd}"));

namespace {

struct RawEntry {
    const char *name;
    Kind kind;
    const char *inSig;
    const char *outSig;
    const char *argNames;
    char valueType;
    int line;
};

#define KP_TYPE_STR(type)                                                                          \
    (typeCode<type>() == 'i'   ? "i"                                                               \
     : typeCode<type>() == 's' ? "s"                                                               \
     : typeCode<type>() == 'd' ? "d"                                                               \
                               : "v")
constexpr RawEntry rawEntries[] = {
#define KP_READ(name, type)                                                                        \
    {"get_" #name, Kind::Read, "", KP_TYPE_STR(type), "Value", typeCode<type>(), __LINE__},
#define KP_WRITE(name, type)                                                                       \
    {"set_" #name, Kind::Write, KP_TYPE_STR(type), "", "Value", typeCode<type>(), __LINE__},
#define KP_METHOD(name, args, names)                                                               \
    {#name, Kind::Method, Signature<void args>::value, "", names, 0, __LINE__},
#include "server/Kelvon_tlb.inc"
#undef KP_READ
#undef KP_WRITE
#undef KP_METHOD
};
#undef KP_TYPE_STR
static_assert(std::size(rawEntries) == EntryCount, "the interface has 220 entries");

struct Table {
    std::array<EntryInfo, EntryCount> entries;
    QHash<QString, Entry> byName;

    Table() {
        // A property's read and write share one dispatch identifier; numbering follows the
        // order of first appearance, from 1.
        QHash<QString, int> dispIds;
        for (int i = 0; i < EntryCount; ++i) {
            const RawEntry &r = rawEntries[i];
            QString member = QString::fromLatin1(r.name);
            if (r.kind != Kind::Method) member = member.mid(4);
            int id = dispIds.value(member, 0);
            if (id == 0) {
                id = dispIds.size() + 1;
                dispIds.insert(member, id);
            }
            entries[i] = EntryInfo{r.name,     r.kind,      r.inSig, r.outSig,
                                   r.argNames, r.valueType, r.line,  FirstEntrySlot + i,
                                   id};
            byName.insert(QString::fromLatin1(r.name), static_cast<Entry>(i));
        }
    }
};

const Table &table() {
    static const Table t;
    return t;
}

const char *const eventNames[] = {"OnChangeCarsLists", "OnReceiveOnlineData", "OnCloseServer",
                                  "OnChangeParameters", "OnEndComputing"};

const char *castName(char valueType) {
    switch (valueType) {
    case 'i':
        return "long*";
    case 's':
        return "BSTR*";
    case 'd':
        return "double*";
    default:
        return "VARIANT*";
    }
}

} // namespace

const EntryInfo &entryInfo(Entry e) { return table().entries.at(static_cast<int>(e)); }

std::optional<Entry> entryByName(QStringView name) {
    const auto &t = table();
    auto it = t.byName.constFind(name.toString());
    if (it == t.byName.constEnd()) return std::nullopt;
    return *it;
}

QString readCallText(Entry e) {
    const EntryInfo &info = entryInfo(e);
    return QStringLiteral("GetDefaultInterface()->%1((%2)&Value)")
        .arg(QLatin1String(info.name), QLatin1String(castName(info.valueType)));
}

const char *eventName(int dispId) {
    if (dispId < DISPID_OnChangeCarsLists || dispId > DISPID_OnEndComputing) return nullptr;
    return eventNames[dispId - DISPID_OnChangeCarsLists];
}

int eventDispId(QStringView name) {
    for (int i = 0; i < 5; ++i) {
        if (name == QLatin1String(eventNames[i])) return DISPID_OnChangeCarsLists + i;
    }
    return 0;
}

QString introspectionXml() {
    QString xml;
    xml += QStringLiteral("  <interface name=\"%1\">\n").arg(QLatin1String(InterfaceName));
    for (const EntryInfo &e : table().entries) {
        xml += QStringLiteral("    <method name=\"%1\">\n").arg(QLatin1String(e.name));
        if (e.kind == Kind::Read) {
            xml += QStringLiteral("      <arg name=\"Value\" type=\"%1\" direction=\"out\"/>\n")
                       .arg(QLatin1String(e.outSig));
        } else {
            const QStringList names =
                QString::fromLatin1(e.argNames).split(QLatin1Char(','), Qt::SkipEmptyParts);
            const QString sig = QString::fromLatin1(e.inSig);
            for (int i = 0; i < sig.size(); ++i) {
                xml += QStringLiteral("      <arg name=\"%1\" type=\"%2\" direction=\"in\"/>\n")
                           .arg(i < names.size() ? names[i] : QStringLiteral("Arg%1").arg(i + 1),
                                sig.mid(i, 1));
            }
        }
        xml += QStringLiteral("    </method>\n");
    }
    xml += QStringLiteral("  </interface>\n");
    xml += QStringLiteral("  <interface name=\"%1\">\n").arg(QLatin1String(EventsInterfaceName));
    for (const char *name : eventNames)
        xml += QStringLiteral("    <signal name=\"%1\"/>\n").arg(QLatin1String(name));
    xml += QStringLiteral("  </interface>\n");
    return xml;
}

} // namespace kp::kelvon
