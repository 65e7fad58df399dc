// The run's real collaborators: the monitoring server client and the roles of Cars.ini.
#include "Thread.h"

#include "config/ConfigFiles.h"
#include "server/Kelvon_ocx.h"

namespace kp::calc {

namespace {

class MonitoringServer final : public CounterServer {
public:
    void SetGroupIndexByFileName(const QString &g) override { client_.SetGroupIndexByFileName(g); }
    void StartComputing(const QString &g, std::int32_t device, const QString &start,
                        const QString &end, const QString &channel, std::int32_t flags) override {
        client_.StartComputing(g, device, start, end, channel, flags);
    }
    int get_ComputingBusy() override { return client_.get_ComputingBusy(); }
    int get_ComputingPercents() override { return client_.get_ComputingPercents(); }
    int get_TripsNum() override { return client_.get_TripsNum(); }
    void set_TripIndex(int index) override { client_.set_TripIndex(index); }
    void ExportListToFile(const QString &path, const QString &list, const QString &kind,
                          std::int32_t a, std::int32_t b) override {
        client_.ExportListToFile(path, list, kind, a, b);
    }

private:
    TKelvonAutomation client_; // no owner component: the run releases it
};

class CarsIniRoles final : public RoleSource {
public:
    explicit CarsIniRoles(const QString &path) : file_(path) {}
    int role(std::int32_t device, int input) override { return file_.calcRole(device, input); }

private:
    kp::config::CarsFile file_;
};

} // namespace

std::unique_ptr<CounterServer> makeMonitoringServer() {
    return std::make_unique<MonitoringServer>();
}

std::unique_ptr<RoleSource> makeCarsIniRoles(const QString &carsIniPath) {
    return std::make_unique<CarsIniRoles>(carsIniPath);
}

} // namespace kp::calc
