// One application object for a test process without widgets, made after the
// test main has set the XDG places.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace {

class CoreApplication : public ::testing::Environment
{
public:
    void SetUp() override { m_app = std::make_unique<QCoreApplication>(m_argc, m_argv); }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[5] = "test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};
[[maybe_unused]] ::testing::Environment* const g_app = ::testing::AddGlobalTestEnvironment(new CoreApplication);

} // namespace
