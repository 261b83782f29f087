#pragma once

#include "TestEnvironment.h"
#include "app/FilesListModel.h"
#include "app/frmMain.h"
#include "model/ProfileFormat.h"
#include "support/DebugLog.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QTimeZone>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

// Helpers shared by the window and dialog tests: a hand-written profile,
// watched files with set times, and the window's parts looked up by objectName.
namespace AppTest {

// 4 December 2026, 10:00 in Berlin: the moment every window test stands at.
inline qint64 NowSecs()
{
    return QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();
}
inline qint64 NowMSecs()
{
    return NowSecs() * 1000;
}

inline QString ProfilePath()
{
    return ProfileFormat::ProfilePath(QStringLiteral("Profile1"));
}

inline bool WriteProfile(const QString& text)
{
    return TestEnvironment::WriteFile(ProfilePath(), text.toUtf8());
}

inline QString ProfileText()
{
    return QString::fromUtf8(TestEnvironment::ReadFile(ProfilePath()));
}

// A watched file, last modified at the given moment.
inline QString WatchedFile(const QString& folder, const QString& name, qint64 modifiedSecs)
{
    const QString path = folder + QLatin1Char('/') + name;
    EXPECT_TRUE(TestEnvironment::WriteFile(path, "data\n") && TestEnvironment::SetModified(path, modifiedSecs));
    return path;
}

using TestEnvironment::WaitFor;

template<typename T>
T* Find(const QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

inline QAbstractItemModel* Files(const frmMain& window)
{
    QTreeView* list = Find<QTreeView>(&window, "lvwFiles");
    return list ? list->model() : nullptr;
}

// The column of the files list whose header carries the key.
inline int FilesColumn(const frmMain& window, const char* key)
{
    QAbstractItemModel* model = Files(window);
    for (int c = 0; model && c < model->columnCount(); ++c) {
        if (model->headerData(c, Qt::Horizontal, FilesListModel::KeyRole).toString() == QLatin1String(key)) {
            return c;
        }
    }
    ADD_FAILURE() << "no column " << key;
    return -1;
}

// A cell of the files list by 1-based row and column key ("STATUS").
inline QModelIndex Cell(const frmMain& window, int row, const char* key)
{
    return Files(window)->index(row - 1, FilesColumn(window, key));
}
inline QString FilesCell(const frmMain& window, int row, const char* key)
{
    return Cell(window, row, key).data().toString();
}

} // namespace AppTest
