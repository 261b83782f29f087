#include "app/FilesListModel.h"

#include "model/cSettings.h"
#include "support/DateTimeUtility.h"

#include <QBrush>
#include <QFont>

namespace {
const char* const kKeys[] = {"ENABLED", "FILENAME", "LASTMODIFIED", "STATUS"};
const char* const kCaptions[] = {"", "Filename", "Last Modified", "Status"};
} // namespace

int FilesListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FilesListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FilesListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !validRow(index.row())) {
        return {};
    }
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::ToolTipRole: // the whole text of a cell the column cuts short
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColumnFileName:
            return row.fileName;
        case ColumnLastModified:
            return row.lastModified;
        case ColumnStatus:
            return row.status;
        default:
            return QString();
        }
    case Qt::ForegroundRole:
        // White on the list's black, red for a stale file.
        return QBrush(row.alert ? QColor(255, 0, 0) : QColor(255, 255, 255));
    case Qt::FontRole:
        if (row.alert) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant FilesListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kCaptions[section]);
    }
    if (role == KeyRole) {
        return QString::fromLatin1(kKeys[section]);
    }
    return {};
}

QString FilesListModel::LastModifiedText(const cMonitorFile& file)
{
    const QDateTime modified = file.LastModifiedVB();
    return DateTimeUtility::IsPositiveDate(modified) ? DateTimeUtility::GeneralDate(modified)
                                                     : QStringLiteral("(Unknown)");
}

// Red and bold: a stale file, or one missing past its limit.
bool FilesListModel::alertShown(const cMonitorFile& file)
{
    return (file.MonitorType() == cMonitorFile::NotifyWhenStale && file.NotifyNeeded()) || file.IsMissing();
}

FilesListModel::Row FilesListModel::rowOf(const cMonitorFile& file)
{
    return {file.DisplayName(), LastModifiedText(file), file.Status(), file.LastModifiedSD(), alertShown(file)};
}

void FilesListModel::SetFiles(const cSettings& settings)
{
    beginResetModel();
    m_rows.clear();
    // A 32-bit counter: a 16-bit one wraps past the last of 32,767 files.
    const qint32 count = settings.NumberFiles();
    m_rows.reserve(static_cast<size_t>(qMax(0, count)));
    for (qint32 i = 1; i <= count; ++i) {
        m_rows.push_back(rowOf(*settings.MonitorFile(static_cast<qint16>(i))));
    }
    endResetModel();
}

void FilesListModel::UpdateRow(int row, const cMonitorFile& file)
{
    if (!validRow(row)) {
        return;
    }
    Row& shown = m_rows[static_cast<size_t>(row)];
    const QString name = file.DisplayName();
    const bool alert = alertShown(file);
    const bool timeMoved = !(shown.shownStamp == file.LastModifiedSD());
    // Most checks change nothing: no text is formatted and nothing repainted then.
    if (!timeMoved && alert == shown.alert && shown.status == file.Status() && shown.fileName == name) {
        return;
    }
    shown.fileName = name;
    if (timeMoved) {
        shown.shownStamp = file.LastModifiedSD();
        shown.lastModified = LastModifiedText(file);
    }
    shown.status = file.Status();
    shown.alert = alert;
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}
