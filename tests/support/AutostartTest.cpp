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
};

TEST_F(AutostartEntry, IsWrittenUnderTheUsersConfigAndRemovedAgain)
{
    EXPECT_EQ(Autostart::EntryPath(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/com.brackwell.Sentrel.desktop");
    EXPECT_FALSE(Autostart::Enabled());

    QString error;
    ASSERT_TRUE(Autostart::SetEnabled(true, "/usr/bin/sentrel", error)) << error.toStdString();
    EXPECT_TRUE(Autostart::Enabled());
    const QByteArray entry = TestEnvironment::ReadFile(Autostart::EntryPath());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\nType=Application\n"));
    EXPECT_TRUE(entry.contains("\nExec=/usr/bin/sentrel\n"));

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {Autostart::EntryPath()});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }

    ASSERT_TRUE(Autostart::SetEnabled(false, "/usr/bin/sentrel", error));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
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
        {"/opt/sentrel-1.0/bin/sentrel", "/opt/sentrel-1.0/bin/sentrel"},
        {"/home/jo/My Apps/sentrel", "\"/home/jo/My Apps/sentrel\""},
        {"/tmp/$HOME/a\"b", "\"/tmp/\\\\$HOME/a\\\\\"b\""},
        {"/tmp/back\\slash", "\"/tmp/back\\\\\\\\slash\""},
        {"/tmp/100%/sentrel", "\"/tmp/100%%/sentrel\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        EXPECT_EQ(Autostart::ExecArgument(c.program), c.exec);
    }
}

TEST_F(AutostartEntry, AnEntryTheUserSwitchedOffCountsAsOff)
{
    for (const bool hidden : {true, false}) {
        ASSERT_TRUE(TestEnvironment::WriteFile(Autostart::EntryPath(),
                                               QByteArray("[Desktop Entry]\nType=Application\nExec=sentrel\nHidden=") +
                                                   (hidden ? "true\n" : "false\n")));
        EXPECT_EQ(Autostart::Enabled(), !hidden);
    }
}

TEST_F(AutostartEntry, WhatIsNoRegularFileThereIsNoEntryAndDoesNotHang)
{
    QDir().mkpath(QFileInfo(Autostart::EntryPath()).absolutePath());
    for (const auto& [path, kind] : TestEnvironment::NonRegularFiles()) {
        SCOPED_TRACE(kind.toStdString());
        QFile::remove(Autostart::EntryPath());
        QDir().rmdir(Autostart::EntryPath());
        ASSERT_TRUE(QFile::rename(path, Autostart::EntryPath()));
        const TestEnvironment::Deadline deadline(5);
        EXPECT_FALSE(Autostart::Enabled());
    }
    QDir().rmdir(Autostart::EntryPath());
}

TEST_F(AutostartEntry, AFolderThatCannotBeMadeIsReportedAndNothingIsWritten)
{
    // A file where the autostart folder should be.
    const QString folder = QFileInfo(Autostart::EntryPath()).absolutePath();
    QDir(folder).removeRecursively();
    ASSERT_TRUE(TestEnvironment::WriteFile(folder, "not a folder"));
    QString error;
    EXPECT_FALSE(Autostart::SetEnabled(true, "/usr/bin/sentrel", error));
    EXPECT_TRUE(error.contains("autostart")) << error.toStdString();
    EXPECT_FALSE(Autostart::Enabled());
    QFile::remove(folder);
}

} // namespace
