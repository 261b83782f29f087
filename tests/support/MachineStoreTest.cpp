#include "support/MachineStore.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

TEST(SettingsStores, MachineWideValuesLiveUnderTheFirstConfigDir)
{
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    ASSERT_TRUE(TestEnvironment::WriteFile(dirs.section(':', 0, 0) + "/Brackwell.conf",
                                           "[General]\nDebugMode=7\nDebugPath=/var/log/x\nWord=abc\n"));
    const QString key = QStringLiteral("SOFTWARE\\Brackwell");
    using enum MachineStore::Root;
    EXPECT_EQ(MachineStore::ReadRegNumber(LocalMachine, key, "DebugMode", 0), 7);
    EXPECT_EQ(MachineStore::ReadRegString(LocalMachine, key, "DebugPath", QString()), QStringLiteral("/var/log/x"));
    EXPECT_EQ(MachineStore::ReadRegNumber(LocalMachine, key, "Word", 3), 3);
    EXPECT_EQ(MachineStore::ReadRegNumber(CurrentUser, key, "DebugMode", 0), 0); // the per-user store is another place
}
