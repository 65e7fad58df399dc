// Runs every test class of the database layer in turn.
#include "TestSuites.h"
#include "platform/localsql/Dbf.h"

#include <QCoreApplication>
#include <QtTest>

std::vector<suites::Factory> &suites::all() {
    static std::vector<Factory> list;
    return list;
}

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int failed = 0;
    for (const auto &make : suites::all()) {
        auto test = make();
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
