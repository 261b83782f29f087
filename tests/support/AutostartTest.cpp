// The login autostart entry: where it goes, what the desktop reads from it
// (checked with desktop-file-validate when that is installed), how a program
// path with blanks or shell characters survives, and an entry the user has
// switched off or that cannot be written.
#include "support/Autostart.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

class AutostartEntry : public ::testing::Test
{
protected:
    void SetUp() override { QFile::remove(Autostart::EntryPath()); }
    void TearDown() override { QFile::remove(Autostart::EntryPath()); }

    static QString EntryText() { return QString::fromUtf8(TestEnvironment::ReadFile(Autostart::EntryPath())); }
};

TEST_F(AutostartEntry, IsWrittenUnderTheUsersConfigAndRemovedAgain)
{
    EXPECT_EQ(Autostart::EntryPath(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/com.brackwell.Sentrel.desktop"));
    EXPECT_FALSE(Autostart::Enabled());

    QString error;
    ASSERT_TRUE(Autostart::SetEnabled(true, QStringLiteral("/usr/bin/sentrel"), error)) << error.toStdString();
    EXPECT_TRUE(Autostart::Enabled());
    EXPECT_TRUE(EntryText().contains(QStringLiteral("\nExec=/usr/bin/sentrel\n")));
    EXPECT_TRUE(EntryText().startsWith(QStringLiteral("[Desktop Entry]\nType=Application\n")));

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {Autostart::EntryPath()});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }

    ASSERT_TRUE(Autostart::SetEnabled(false, QStringLiteral("/usr/bin/sentrel"), error));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
    EXPECT_FALSE(Autostart::Enabled());
    // Removing what is not there is no error.
    EXPECT_TRUE(Autostart::SetEnabled(false, QString(), error));
}

TEST_F(AutostartEntry, ProgramPathsAreQuotedAndEscapedAsTheDesktopReadsThem)
{
    const struct
    {
        QString program;
        QString exec;
    } cases[] = {
        {QStringLiteral("/opt/sentrel-1.0/bin/sentrel"), QStringLiteral("/opt/sentrel-1.0/bin/sentrel")},
        {QStringLiteral("/home/jo/My Apps/sentrel"), QStringLiteral("\"/home/jo/My Apps/sentrel\"")},
        {QStringLiteral("/tmp/$HOME/a\"b"), QStringLiteral("\"/tmp/\\\\$HOME/a\\\\\"b\"")},
        {QStringLiteral("/tmp/back\\slash"), QStringLiteral("\"/tmp/back\\\\\\\\slash\"")},
        {QStringLiteral("/tmp/100%/sentrel"), QStringLiteral("\"/tmp/100%%/sentrel\"")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        EXPECT_EQ(Autostart::ExecArgument(c.program), c.exec);
    }
}

TEST_F(AutostartEntry, AnEntryTheUserSwitchedOffCountsAsOff)
{
    ASSERT_TRUE(TestEnvironment::WriteFile(Autostart::EntryPath(),
                                           "[Desktop Entry]\nType=Application\nExec=sentrel\nHidden=true\n"));
    EXPECT_FALSE(Autostart::Enabled());
    ASSERT_TRUE(TestEnvironment::WriteFile(Autostart::EntryPath(),
                                           "[Desktop Entry]\nType=Application\nExec=sentrel\nHidden=false\n"));
    EXPECT_TRUE(Autostart::Enabled());
}

TEST_F(AutostartEntry, AFolderThatCannotBeMadeIsReportedAndNothingIsWritten)
{
    // A file where the autostart folder should be.
    const QString folder = QFileInfo(Autostart::EntryPath()).absolutePath();
    QFile::remove(folder);
    QDir(folder).removeRecursively();
    ASSERT_TRUE(TestEnvironment::WriteFile(folder, "not a folder"));
    QString error;
    EXPECT_FALSE(Autostart::SetEnabled(true, QStringLiteral("/usr/bin/sentrel"), error));
    EXPECT_TRUE(error.contains(QStringLiteral("autostart"))) << error.toStdString();
    EXPECT_FALSE(Autostart::Enabled());
    QFile::remove(folder);
}

} // namespace
