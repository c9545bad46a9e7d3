// The windows need an application object; it is made only when the tests
// run, so that listing them needs no display.
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QtProstredi : public ::testing::Environment {
public:
    QtProstredi(int& Argc, char** Argv) : argc_(Argc), argv_(Argv) {}
    void SetUp() override { aplikace_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { aplikace_.reset(); }

private:
    int& argc_;
    char** argv_;
    std::unique_ptr<QApplication> aplikace_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new QtProstredi(argc, argv));
    return RUN_ALL_TESTS();
}
