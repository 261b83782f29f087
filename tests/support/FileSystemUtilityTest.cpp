#include "support/FileSystemUtility.h"
#include "TestEnvironment.h"
#include "support/FolderHandles.h"

#include <QDir>
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

TEST(FolderHandles, FindWhatAStatOfThePathFinds)
{
    const QString root = TestEnvironment::NewFolder("handles");
    const QString shared = root + "/shared";
    QList<std::pair<QString, std::time_t>> cases = {{shared + "/a.csv", 100},
                                                    {root + "/shared-2/a.csv", 300},
                                                    {shared + "/b.csv", 200},
                                                    {shared + "/sub/a.csv", 400},
                                                    {shared + "/link.csv", 100},
                                                    {root + "/linked/a.csv", 300},
                                                    {shared + "/gone.csv", 0},
                                                    {root + "/gone/a.csv", 0},
                                                    {shared + "/a.csv/", 0},
                                                    {"", 0},
                                                    {"a.csv", 100},
                                                    {"sub/a.csv", 400}};
    for (const auto& [path, mtime] : cases.first(4)) {
        ASSERT_TRUE(TestEnvironment::WriteFile(path, "x") && TestEnvironment::SetModified(path, mtime));
    }
    ASSERT_TRUE(QFile::link("a.csv", shared + "/link.csv") && QFile::link(root + "/shared-2", root + "/linked"));
    // Relative names are found from the working folder, as a stat of them is.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(shared));
    for (const auto& [path, kind] : TestEnvironment::NonRegularFiles()) {
        cases.append({path, 0});
    }
    FolderHandles folders;
    // The first round stats the first file of each folder by its path, the rest through the folder's handle.
    for (int round = 0; round < 2; ++round) {
        for (const auto& [path, mtime] : cases) {
            SCOPED_TRACE(path.toStdString());
            std::time_t secs = 0;
            EXPECT_EQ(folders.LastModified(path, secs), mtime != 0);
            EXPECT_EQ(secs, mtime);
        }
    }
    QDir::setCurrent(before);
}
