// How the demo units count: a unit's counters start from zero at midnight; during the vehicle's
// service hours it records every stop at irregular seconds (a record exactly on a minute would
// fall on an interval bound), with more passengers in the morning and evening peaks; each
// passenger gives two pulses; now and then a unit restarts and its counters fall back to zero;
// outside service it only reports in, with unchanged counters.
#include "monitor/DemoFleet.h"

#include <QStringEncoder>

#include <algorithm>
#include <cmath>

namespace kp::monitor::demo {

namespace {

enum class Wiring { Inputs12, Inputs34, Carried1 };
enum class Channels { Both, UsbOnly, None };

struct Profile {
    Vehicle vehicle;
    int group; // 0-based depot
    Wiring wiring;
    Channels channels;
    double demand; // passengers per stop in quiet hours
    int capacity;
};

struct Depot {
    const char16_t *fileName;
    const char16_t *name;
    const char16_t *address;
    const char16_t *contacts;
};

const Depot depots[] = {
    {u"avtokolonna1.kgr", u"Автоколонна № 1", u"г. Самара, ул. Заводская, 12",
     u"Диспетчерская: +7 (846) 200-11-01"},
    {u"avtokolonna2.kgr", u"Автоколонна № 2", u"г. Самара, Московское шоссе, 41",
     u"Диспетчерская: +7 (846) 200-22-02"},
    {u"prigorod.kgr", u"Пригородный автопарк", u"г. Новокуйбышевск, ул. Миронова, 5",
     u"Начальник колонны Семёнов А. П., +7 (846) 355-30-03"},
};

struct Row {
    int group;
    std::int32_t device;
    const char16_t *model;
    const char16_t *number;
    const char16_t *route;
    const char16_t *drivers;
    const char16_t *telNum;
    Wiring wiring;
    Channels channels;
    double demand;
    int capacity;
};

const Row rows[] = {
    {0, 517, u"ПАЗ-3205", u"АС 517 63", u"Маршрут 12", u"Иванов И. И.; Кузнецов П. С.",
     u"+79270000517", Wiring::Inputs12, Channels::Both, 1.1, 60},
    {0, 1024, u"ЛиАЗ-5256", u"АВ 102 63", u"Маршрут 34", u"Петров А. В.; Соколов Д. М.",
     u"+79270001024", Wiring::Inputs12, Channels::Both, 1.8, 110},
    {0, 1031, u"ЛиАЗ-5292", u"АВ 103 63", u"Маршрут 34", u"Смирнов В. Н.", u"+79270001031",
     Wiring::Inputs34, Channels::Both, 1.9, 110},
    {0, 2040, u"НефАЗ-5299", u"ВЕ 204 63", u"Маршрут 47", u"Волков С. С.; Зайцев Е. Н.",
     u"+79270002040", Wiring::Inputs12, Channels::Both, 1.6, 100},
    {0, 2077, u"МАЗ-103", u"ВЕ 207 63", u"Маршрут 47", u"Морозов К. А.", u"+79270002077",
     Wiring::Carried1, Channels::Both, 1.5, 100},
    {1, 30112, u"ЛиАЗ-5256", u"ЕК 301 163", u"Маршрут 2", u"Лебедев О. Г.; Новиков Р. Т.",
     u"+79270030112", Wiring::Inputs12, Channels::Both, 1.7, 110},
    {1, 30125, u"ПАЗ-320412", u"ЕК 312 163", u"Маршрут 2", u"Козлов М. Ю.", u"+79270030125",
     Wiring::Inputs34, Channels::Both, 1.0, 55},
    {1, 30140, u"ГАЗ-A64R42", u"КМ 140 163", u"Маршрут 205", u"Егоров Н. Ф.", u"+79270030140",
     Wiring::Carried1, Channels::Both, 0.6, 20},
    {1, 30158, u"КАвЗ-4238", u"КМ 158 163", u"Маршрут 9", u"Павлов С. И.", u"", Wiring::Inputs12,
     Channels::UsbOnly, 1.2, 60},
    {1, 30166, u"ЛиАЗ-5292", u"КМ 166 163", u"Маршрут 9", u"", u"+79270030166", Wiring::Inputs12,
     Channels::None, 1.5, 110},
    {2, 451203, u"ПАЗ-4234", u"ОН 451 63", u"Пригородный 110", u"Фёдоров Г. В.", u"+79270451203",
     Wiring::Inputs12, Channels::Both, 0.9, 50},
    {2, 451210, u"КАвЗ-4235", u"ОН 452 63", u"Пригородный 110", u"Алексеев Т. Б.", u"+79270451210",
     Wiring::Inputs34, Channels::Both, 0.9, 50},
    {2, 451227, u"НефАЗ-5299", u"ОН 453 63", u"Пригородный 126", u"Григорьев Л. Д.; Орлов В. К.",
     u"+79270451227", Wiring::Inputs12, Channels::Both, 1.3, 100},
    {2, 1200345, u"ПАЗ-3205", u"", u"Служебный", u"Белов А. А.", u"+79271200345", Wiring::Inputs12,
     Channels::Both, 0.5, 40},
    {2, 7, u"", u"", u"Резерв", u"", u"", Wiring::Inputs12, Channels::Both, 0.8, 60},
};

QString str(const char16_t *s) { return QString::fromUtf16(s); }

const QList<Profile> &profiles() {
    static const QList<Profile> list = [] {
        QList<Profile> out;
        for (const Row &r : rows) {
            Vehicle v;
            v.device = r.device;
            v.model = str(r.model);
            v.number = str(r.number);
            v.route = str(r.route);
            v.drivers = str(r.drivers);
            v.alias = QStringLiteral("Борт %1").arg(r.device);
            v.telNum = str(r.telNum);
            v.checkPointsFile = QStringLiteral("%1.kcp").arg(r.device);
            out.append({v, r.group, r.wiring, r.channels, r.demand, r.capacity});
        }
        return out;
    }();
    return list;
}

const Profile *profileOf(std::int32_t device) {
    for (const Profile &p : profiles()) {
        if (p.vehicle.device == device) return &p;
    }
    return nullptr;
}

// SplitMix64: small, fast and the same on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    int range(int lo, int hi) { // lo..hi inclusive
        return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    int poisson(double lambda) {
        const double limit = std::exp(-lambda);
        int k = 0;
        double p = uniform();
        while (p > limit) {
            ++k;
            p *= uniform();
        }
        return k;
    }

private:
    std::uint64_t state_;
};

// Passengers waiting at a stop, relative to the quiet hours.
double demandAt(double hour) {
    const double morning = 2.2 * std::exp(-std::pow((hour - 7.8) / 0.9, 2));
    const double evening = 1.8 * std::exp(-std::pow((hour - 17.6) / 1.2, 2));
    const double day = (hour >= 10 && hour < 16) ? 0.5 : 0.0;
    const double late = hour >= 21 ? -0.3 : 0.0;
    return std::max(0.1, 0.5 + morning + evening + day + late);
}

bool carries(const Profile &p, const QString &channel) {
    switch (p.channels) {
    case Channels::Both:
        return channel == QLatin1String("GSM") || channel == QLatin1String("USB");
    case Channels::UsbOnly:
        return channel == QLatin1String("USB");
    case Channels::None:
        return false;
    }
    return false;
}

} // namespace

Fleet fleet() {
    Fleet out;
    for (const Depot &d : depots)
        out.append({str(d.fileName), str(d.name), str(d.address), str(d.contacts), {}});
    for (const Profile &p : profiles())
        out[p.group].vehicles.append(p.vehicle);
    return out;
}

QList<Record> dayRecords(std::int32_t device, const QString &channel, int day) {
    QList<Record> out;
    const Profile *p = profileOf(device);
    if (!p || !carries(*p, channel)) return out;

    // The same vehicle and day give the same records over either channel.
    Random rng(static_cast<std::uint64_t>(static_cast<std::uint32_t>(device)) * 0x100000001B3ull ^
               static_cast<std::uint64_t>(static_cast<std::uint32_t>(day)) * 0x9E3779B1ull);
    const int serviceStart = 5 * 3600 + 20 * 60 + (device % 37) * 60 + rng.range(0, 600);
    const int serviceEnd =
        std::min(23 * 3600 + 50 * 60, 22 * 3600 + 30 * 60 + (device % 41) * 60 + rng.range(0, 600));
    int restartAt = -1;
    if (rng.range(0, 5) == 0) restartAt = rng.range(serviceStart + 3600, serviceEnd - 3600);

    std::array<std::int64_t, 4> counters{};
    auto push = [&](int sec) {
        if (sec % 60 == 0) sec += 7; // never exactly on a minute
        sec = std::min(sec, 86399);
        out.append({day + sec / 86400.0, counters});
    };

    // Reporting in before the first trip.
    int t = 240 + rng.range(0, 900);
    while (t < serviceStart) {
        push(t);
        t += 900 + rng.range(0, 600);
    }

    t = serviceStart;
    int load = 0;
    int stopsLeft = rng.range(18, 32);
    while (t < serviceEnd) {
        if (restartAt >= 0 && t >= restartAt) {
            counters = {};
            push(restartAt);
            restartAt = -1;
            t += rng.range(40, 90);
        }
        int entering = 0;
        int leaving = 0;
        const bool terminus = --stopsLeft <= 0;
        if (terminus) {
            // The terminus: everybody leaves, and the vehicle waits before the next trip.
            leaving = load;
            load = 0;
            stopsLeft = rng.range(18, 32);
        } else {
            for (int i = 0; i < load; ++i)
                if (rng.uniform() < 0.17) ++leaving;
            load -= leaving;
            entering = std::min(p->capacity - load, rng.poisson(p->demand * demandAt(t / 3600.0)));
            load += entering;
        }
        switch (p->wiring) {
        case Wiring::Inputs12:
            counters[0] += 2 * entering;
            counters[1] += 2 * leaving;
            break;
        case Wiring::Inputs34:
            counters[2] += 2 * entering;
            counters[3] += 2 * leaving;
            break;
        case Wiring::Carried1:
            counters[0] += 2 * (entering + leaving);
            break;
        }
        push(t);
        t += terminus ? rng.range(300, 900) : rng.range(45, 240);
    }

    // Back at the depot: reporting in until midnight.
    t = serviceEnd + rng.range(120, 900);
    while (t < 86400) {
        push(t);
        t += 900 + rng.range(0, 600);
    }
    return out;
}

QList<Record> records(std::int32_t device, const QString &channel, double from, double to,
                      const std::function<bool(int)> &progress) {
    QList<Record> out;
    if (!(from <= to)) return out;
    const int first = static_cast<int>(std::floor(from));
    const int last = static_cast<int>(std::floor(to));
    const int days = last - first + 1;
    for (int d = first; d <= last; ++d) {
        for (const Record &r : dayRecords(device, channel, d)) {
            if (r.stamp >= from && r.stamp <= to) out.append(r);
        }
        if (progress && !progress(100 * (d - first + 1) / days)) break;
    }
    return out;
}

QByteArray wiringIni() {
    QString text;
    const QString crlf = QStringLiteral("\r\n");
    text += QStringLiteral("; Входы бортовых блоков демонстрационного парка:") + crlf;
    text += QStringLiteral("; 1 - не используется, 2 - входящие, 3 - выходящие, 4 - перевезённые") +
            crlf;
    const Fleet f = fleet();
    for (const Profile &p : profiles()) {
        const Vehicle &v = p.vehicle;
        int d[4] = {1, 1, 1, 1};
        switch (p.wiring) {
        case Wiring::Inputs12:
            d[0] = 2;
            d[1] = 3;
            break;
        case Wiring::Inputs34:
            d[2] = 2;
            d[3] = 3;
            break;
        case Wiring::Carried1:
            d[0] = 4;
            break;
        }
        QString label = v.model.isEmpty() ? QStringLiteral("без модели") : v.model;
        if (!v.number.isEmpty()) label += QStringLiteral(" ") + v.number;
        text += crlf + QStringLiteral("; ") + label + QStringLiteral(", ") + f[p.group].name + crlf;
        text += QStringLiteral("[%1]").arg(v.device) + crlf;
        for (int i = 0; i < 4; ++i)
            text += QStringLiteral("D%1=%2").arg(i + 1).arg(d[i]) + crlf;
    }
    QStringEncoder enc("windows-1251");
    return enc.encode(text);
}

} // namespace kp::monitor::demo
