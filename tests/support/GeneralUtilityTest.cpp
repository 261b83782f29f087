#include "support/GeneralUtility.h"
#include "TestEnvironment.h"
#include "support/FileSystemUtility.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(GeneralUtility, ExtractTokenStopsAtTheNextDelimiter)
{
    struct Case
    {
        const char* name;
        QString text;
        qsizetype start;
        QString token;
        qsizetype next;
    } const cases[] = {
        {"middle", QStringLiteral("a#YYYY#b"), 3, QStringLiteral("YYYY"), 7},
        {"empty between two", QStringLiteral("a##b"), 3, QString(), 3},
        {"no closing delimiter", QStringLiteral("a#bc"), 3, QStringLiteral("bc"), 0},
        {"start past the end", QStringLiteral("abc"), 9, QString(), 0},
        {"start at one", QStringLiteral("x#y"), 1, QStringLiteral("x"), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qsizetype next = -1;
        EXPECT_EQ(GeneralUtility::ExtractToken(c.text, c.start, u"#", &next), c.token);
        EXPECT_EQ(next, c.next);
    }
}

TEST(GeneralUtility, TransformSecretIsItsOwnInverseAndHidesThePassword)
{
    const QString samples[] = {
        QStringLiteral("secret"),
        QStringLiteral("P@ss w0rd!~"),
        QStringLiteral("ünïcødé-€"),
        QStringLiteral(" leading and trailing "),
        QString(200, QLatin1Char('a')),
    };
    for (const QString& s : samples) {
        SCOPED_TRACE(s.toStdString());
        const QString stored = GeneralUtility::TransformSecret(s, true);
        EXPECT_EQ(GeneralUtility::TransformSecret(stored, true), s);
        EXPECT_EQ(stored.size(), s.size());
        EXPECT_FALSE(stored.contains(QLatin1Char('\n')));
    }
    EXPECT_NE(GeneralUtility::TransformSecret(QStringLiteral("secret"), true), QStringLiteral("secret"));
    // Repeated characters must not show as a repeated pattern of the same letter.
    const QString aaaa = GeneralUtility::TransformSecret(QStringLiteral("aaaa"), true);
    EXPECT_NE(aaaa.at(0), aaaa.at(1));
    EXPECT_TRUE(GeneralUtility::TransformSecret(QString(), true).isEmpty());
}

TEST(GeneralUtility, CommandLineQuotesArgumentsWithSpaces)
{
    EXPECT_EQ(GeneralUtility::JoinCommandLine(
                  {QStringLiteral("/DEBUG=MAX"), QStringLiteral("a b"), QStringLiteral("/noprevcheck")}),
              QStringLiteral("/DEBUG=MAX \"a b\" /noprevcheck"));
    EXPECT_EQ(GeneralUtility::JoinCommandLine({}), QString());
}

TEST(GeneralUtility, KeyFilterKeepsDigitsAndBackspaceOnly)
{
    for (int key = 0; key < 128; ++key) {
        const bool keep = (key >= '0' && key <= '9') || key == 8;
        EXPECT_EQ(GeneralUtility::FilterKeyPress(key, 1), keep ? key : 0) << key;
    }
}

TEST(FileSystemUtility, SpecialFoldersFollowTheXdgPlaces)
{
    EXPECT_EQ(FileSystemUtility::SpecialFolder(35), qEnvironmentVariable("XDG_DATA_HOME"));
    EXPECT_EQ(FileSystemUtility::DefaultLogFolder(),
              qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/DebugFiles"));
}

TEST(FileSystemUtility, PathPartsAndFacts)
{
    struct Case
    {
        QString path, parent, title, namePart;
    } const cases[] = {
        {QStringLiteral("/data/report.txt"),
         QStringLiteral("/data"),
         QStringLiteral("report"),
         QStringLiteral("report.txt")},
        {QStringLiteral("/data/archive.tar.gz"),
         QStringLiteral("/data"),
         QStringLiteral("archive.tar"),
         QStringLiteral("archive.tar.gz")},
        {QStringLiteral("/data/README"), QStringLiteral("/data"), QStringLiteral("README"), QStringLiteral("README")},
        {QStringLiteral("/home/u/.profile"),
         QStringLiteral("/home/u"),
         QStringLiteral(".profile"),
         QStringLiteral(".profile")},
        {QStringLiteral("/top"), QStringLiteral("/"), QStringLiteral("top"), QStringLiteral("top")},
        {QStringLiteral("plain.log"), QString(), QStringLiteral("plain"), QStringLiteral("plain.log")},
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
    const QString tenBytes = TestEnvironment::NewFolder(QStringLiteral("read")) + QStringLiteral("/ten.txt");
    ASSERT_TRUE(TestEnvironment::WriteFile(tenBytes, "0123456789"));
    // Files in /proc are regular but report size 0.
    const QString reportsZero = QStringLiteral("/proc/self/status");
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
