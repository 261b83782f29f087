// The login autostart entry, checked with desktop-file-validate when that is installed.
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
    QString m_error;
};

TEST_F(AutostartEntry, IsWrittenUnderTheUsersConfigAndRemovedAgain)
{
    EXPECT_EQ(Autostart::EntryPath(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/com.brackwell.Sentrel.desktop");
    EXPECT_FALSE(Autostart::Enabled());
    ASSERT_TRUE(Autostart::SetEnabled(true, "/usr/bin/sentrel", m_error)) << m_error.toStdString();
    EXPECT_TRUE(Autostart::Enabled());
    const QByteArray entry = TestEnvironment::ReadFile(Autostart::EntryPath());
    EXPECT_TRUE(entry.contains("\nExec=/usr/bin/sentrel\n"));
    if (const QString validator = QStandardPaths::findExecutable("desktop-file-validate"); !validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {Autostart::EntryPath()});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }
    // An entry the user switched off counts as off.
    ASSERT_TRUE(TestEnvironment::WriteFile(Autostart::EntryPath(), entry + "Hidden=true\n"));
    EXPECT_FALSE(Autostart::Enabled());
    ASSERT_TRUE(Autostart::SetEnabled(false, "/usr/bin/sentrel", m_error));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
    EXPECT_TRUE(Autostart::SetEnabled(false, QString(), m_error)); // removing what is not there is no error
}

TEST_F(AutostartEntry, ProgramPathsAreQuotedAndEscapedAsTheDesktopReadsThem)
{
    const std::pair<QString, QString> cases[] = {
        {"/opt/sentrel-1.0/bin/sentrel", "/opt/sentrel-1.0/bin/sentrel"},
        {"/home/jo/My Apps/sentrel", "\"/home/jo/My Apps/sentrel\""},
        {"/tmp/$HOME/a\"b", "\"/tmp/\\\\$HOME/a\\\\\"b\""},
        {"/tmp/back\\slash", "\"/tmp/back\\\\\\\\slash\""},
        {"/tmp/100%/sentrel", "\"/tmp/100%%/sentrel\""},
    };
    for (const auto& [program, exec] : cases) {
        EXPECT_EQ(Autostart::ExecArgument(program), exec) << program.toStdString();
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
    const QString folder = QFileInfo(Autostart::EntryPath()).absolutePath();
    QDir(folder).removeRecursively();
    ASSERT_TRUE(TestEnvironment::WriteFile(folder, "a file where the folder should be"));
    EXPECT_FALSE(Autostart::SetEnabled(true, "/usr/bin/sentrel", m_error));
    EXPECT_TRUE(m_error.contains("autostart")) << m_error.toStdString();
    EXPECT_FALSE(Autostart::Enabled());
    QFile::remove(folder);
}

} // namespace
