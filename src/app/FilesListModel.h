#pragma once

#include "support/DateTimeStamp.h"

#include <QAbstractTableModel>
#include <QString>
#include <vector>

class cMonitorFile;
class cSettings;

// The rows of the files list: an empty "ENABLED" cell, then file name, last
// modified and status. A row is red and bold while its file is stale and
// awaits or has had its notification. A plain table rather than item
// objects, so 32,767 rows stay light.
class FilesListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColumnEnabled = 0, ColumnFileName, ColumnLastModified, ColumnStatus, ColumnCount };
    // Header data role holding a column's key ("FILENAME", …).
    static constexpr int KeyRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant
    headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // One row for each file of the profile, in its order; one reset for all.
    void SetFiles(const cSettings& settings);
    // Row `row` (0-based) shows the file as it is now.
    void UpdateRow(int row, const cMonitorFile& file);

    // The "LASTMODIFIED" cell of a file: its time as "General Date", or "(Unknown)" when never seen.
    [[nodiscard]] static QString LastModifiedText(const cMonitorFile& file);

private:
    struct Row
    {
        QString fileName;
        QString lastModified;
        QString status;
        // The time lastModified was made from: the text is formatted again only when it moves.
        DateTimeStamp shownStamp;
        bool alert = false;
    };
    [[nodiscard]] static bool alertShown(const cMonitorFile& file);
    [[nodiscard]] static Row rowOf(const cMonitorFile& file);
    [[nodiscard]] bool validRow(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }

    std::vector<Row> m_rows;
};
