// The configuration tests: the INI layer, then the three files of the system.
#include <QCoreApplication>
#include <QTest>

#include <memory>

std::unique_ptr<QObject> makeTestIniFile();
std::unique_ptr<QObject> makeTestConfigFiles();

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int failed = 0;
    for (auto make : {makeTestIniFile, makeTestConfigFiles}) {
        std::unique_ptr<QObject> test = make();
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
