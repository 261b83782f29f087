#include "support/FileSystemUtility.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <tuple>

TEST(FileSystemUtility, PathParts)
{
    // The path, its folder, its title (for mail subjects) and its name (for attachments).
    const std::tuple<QString, QString, QString, QString> cases[] = {
        {"/data/archive.tar.gz", "/data", "archive.tar", "archive.tar.gz"},
        {"/data/README", "/data", "README", "README"},
        {"/home/u/.profile", "/home/u", ".profile", ".profile"},
        {"/top", "/", "top", "top"},
        {"plain.log", "", "plain", "plain.log"},
    };
    for (const auto& [path, parent, title, namePart] : cases) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(FileSystemUtility::ParentFolder(path), parent);
        EXPECT_EQ(FileSystemUtility::FileTitle(path), title);
        EXPECT_EQ(FileSystemUtility::FileNamePart(path), namePart);
    }
}

TEST(FileSystemUtility, ReadingKeepsItsBoundWhateverSizeTheFileReports)
{
    const QString tenBytes = TestEnvironment::NewFolder("read") + "/ten.txt";
    ASSERT_TRUE(TestEnvironment::WriteFile(tenBytes, "0123456789"));
    // Files in /proc are regular but report size 0. The path, the bound and how the bytes start (empty: refused).
    const std::tuple<QString, qint64, QByteArray> cases[] = {
        {tenBytes, 10, "0123456789"},
        {tenBytes, 9, {}},
        {"/proc/self/status", 1 << 20, "Name:"},
        {"/proc/self/status", 16, {}},
    };
    for (const auto& [path, maxBytes, starts] : cases) {
        SCOPED_TRACE(testing::Message() << path.toStdString() << " up to " << maxBytes);
        QByteArray bytes;
        QString error;
        EXPECT_EQ(FileSystemUtility::ReadRegularFile(path, maxBytes, bytes, error), !starts.isEmpty());
        EXPECT_TRUE(starts.isEmpty() ? bytes.isEmpty() && !error.isEmpty() : bytes.startsWith(starts))
            << error.toStdString();
    }
}
