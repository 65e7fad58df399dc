// The test classes of this module run in one executable; each registers itself here.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace suites {
using Factory = std::function<std::unique_ptr<QObject>()>;
std::vector<Factory> &all();
inline bool add(Factory f) {
    all().push_back(std::move(f));
    return true;
}
} // namespace suites

#define KP_TEST_SUITE(Class)                                                                       \
    static const bool kpRegistered##Class =                                                        \
        suites::add([] { return std::unique_ptr<QObject>(new Class); });
