#include "support/MachineStore.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

using Root = MachineStore::Root;

TEST(SettingsStores, MachineWideValuesLiveUnderTheFirstConfigDir)
{
    const QString file =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':')).first() + QStringLiteral("/Brackwell.conf");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, "[General]\nDebugMode=7\nDebugPath=/var/log/x\nWord=abc\n"));
    const QString key = QStringLiteral("SOFTWARE\\Brackwell");
    EXPECT_EQ(MachineStore::ReadRegNumber(Root::LocalMachine, key, QStringLiteral("DebugMode"), 0), 7);
    EXPECT_EQ(MachineStore::ReadRegString(Root::LocalMachine, key, QStringLiteral("DebugPath"), QString()),
              QStringLiteral("/var/log/x"));
    EXPECT_EQ(MachineStore::ReadRegNumber(Root::LocalMachine, key, QStringLiteral("Word"), 3), 3);
    EXPECT_EQ(MachineStore::ReadRegNumber(Root::LocalMachine, key, QStringLiteral("Missing"), -4), -4);
    // The per-user store is another place.
    EXPECT_EQ(MachineStore::ReadRegNumber(Root::CurrentUser, key, QStringLiteral("DebugMode"), 0), 0);
}
