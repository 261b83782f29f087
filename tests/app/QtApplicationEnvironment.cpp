// The widget tests need one QApplication for the whole process. GoogleTest
// sets its environments up after the test main has isolated the process's
// folders, so the application sees the test's XDG places.
#include <QApplication>
#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

class QtApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // CTest's ENVIRONMENT reaches discovered tests with its first variable only (TZ); the
        // rest is set here, before the application reads it, unless the caller chose otherwise.
        for (const auto& [name, value] : {std::pair {"QT_QPA_PLATFORM", "offscreen"},
                                          std::pair {"LC_ALL", "C.UTF-8"},
                                          std::pair {"LANG", "C.UTF-8"}}) {
            if (qEnvironmentVariableIsEmpty(name)) {
                qputenv(name, value);
            }
        }
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[9] = "test_app";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace
