#include "support/GeneralUtility.h"
#include "TestEnvironment.h"
#include "support/FileSystemUtility.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(GeneralUtility, TransformSecretIsItsOwnInverseAndHidesThePassword)
{
    for (const QString& s : {QString("P@ss w0rd!~"), QStringLiteral("ünïcødé-€"), QString(200, QLatin1Char('a'))}) {
        SCOPED_TRACE(s.toStdString());
        const QString stored = GeneralUtility::TransformSecret(s, true);
        EXPECT_EQ(GeneralUtility::TransformSecret(stored, true), s);
        EXPECT_EQ(stored.size(), s.size());
        EXPECT_FALSE(stored.contains(QLatin1Char('\n')));
    }
    EXPECT_NE(GeneralUtility::TransformSecret("secret", true), QStringLiteral("secret"));
    // Repeated characters must not show as a repeated pattern of the same letter.
    const QString aaaa = GeneralUtility::TransformSecret("aaaa", true);
    EXPECT_NE(aaaa.at(0), aaaa.at(1));
}

TEST(GeneralUtility, CommandLineQuotesArgumentsWithSpaces)
{
    EXPECT_EQ(GeneralUtility::JoinCommandLine({"/DEBUG=MAX", "a b", "/noprevcheck"}),
              QStringLiteral("/DEBUG=MAX \"a b\" /noprevcheck"));
}

TEST(GeneralUtility, KeyFilterKeepsDigitsAndBackspaceOnly)
{
    for (int key = 0; key < 128; ++key) {
        const bool keep = (key >= '0' && key <= '9') || key == 8;
        EXPECT_EQ(GeneralUtility::FilterKeyPress(key, 1), keep ? key : 0) << key;
    }
}

TEST(FileSystemUtility, PathParts)
{
    struct Case
    {
        QString path, parent, title, namePart;
    } const cases[] = {
        {"/data/archive.tar.gz", "/data", "archive.tar", "archive.tar.gz"},
        {"/data/README", "/data", "README", "README"},
        {"/home/u/.profile", "/home/u", ".profile", ".profile"},
        {"/top", "/", "top", "top"},
        {"plain.log", "", "plain", "plain.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(FileSystemUtility::ParentFolder(c.path), c.parent);
        EXPECT_EQ(FileSystemUtility::FileTitle(c.path), c.title);
        EXPECT_EQ(FileSystemUtility::FileNamePart(c.path), c.namePart);
    }
}

TEST(FileSystemUtility, ReadingKeepsItsBoundWhateverSizeTheFileReports)
{
    const QString tenBytes = TestEnvironment::NewFolder("read") + "/ten.txt";
    ASSERT_TRUE(TestEnvironment::WriteFile(tenBytes, "0123456789"));
    // Files in /proc are regular but report size 0.
    const QString reportsZero = "/proc/self/status";
    struct Case
    {
        const char* name;
        QString path;
        qint64 maxBytes;
        QByteArray starts; // empty: refused
    } const cases[] = {
        {"exactly the bound", tenBytes, 10, "0123456789"},
        {"one byte over", tenBytes, 9, {}},
        {"size 0 reported, read whole", reportsZero, 1 << 20, "Name:"},
        {"size 0 reported, over the bound", reportsZero, 16, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes;
        QString error;
        EXPECT_EQ(FileSystemUtility::ReadRegularFile(c.path, c.maxBytes, bytes, error), !c.starts.isEmpty());
        EXPECT_TRUE(c.starts.isEmpty() ? bytes.isEmpty() && !error.isEmpty() : bytes.startsWith(c.starts))
            << error.toStdString();
    }
}
