#include "app/FilesListModel.h"

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
    case Qt::DisplayRole:
        return Text(index.row(), index.column());
    case Qt::ForegroundRole:
        return QBrush(QColor(row.colour));
    case Qt::FontRole:
        if (row.highlighted) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

bool FilesListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || !validRow(index.row())) {
        return false;
    }
    Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (index.column() == ColumnEnabled) {
            return false;
        }
        SetText(index.row(), index.column(), value.toString());
        return true;
    case Qt::ForegroundRole: {
        const QRgb colour = value.value<QBrush>().color().rgb();
        if (row.colour != colour) {
            row.colour = colour;
            rowChanged(index.row());
        }
        return true;
    }
    case Qt::FontRole: {
        const bool bold = value.value<QFont>().bold();
        if (row.highlighted != bold) {
            row.highlighted = bold;
            rowChanged(index.row());
        }
        return true;
    }
    default:
        return false;
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
        return ColumnKey(section);
    }
    return {};
}

void FilesListModel::Clear()
{
    if (m_rows.empty()) {
        return;
    }
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void FilesListModel::SetRows(std::vector<Row> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

QString FilesListModel::Text(int row, int column) const
{
    if (!validRow(row)) {
        return {};
    }
    const Row& r = m_rows[static_cast<size_t>(row)];
    switch (column) {
    case ColumnFileName:
        return r.fileName;
    case ColumnLastModified:
        return r.lastModified;
    case ColumnStatus:
        return r.status;
    default:
        return {};
    }
}

void FilesListModel::SetText(int row, int column, const QString& text)
{
    if (!validRow(row)) {
        return;
    }
    Row& r = m_rows[static_cast<size_t>(row)];
    QString* cell = column == ColumnFileName       ? &r.fileName
                    : column == ColumnLastModified ? &r.lastModified
                    : column == ColumnStatus       ? &r.status
                                                   : nullptr;
    // Unchanged cells cost no repaint: most of a cycle rewrites the same texts.
    if (!cell || *cell == text) {
        return;
    }
    *cell = text;
    const QModelIndex at = index(row, column);
    Q_EMIT dataChanged(at, at, {Qt::DisplayRole});
}

QColor FilesListModel::RowColour(int row) const
{
    return validRow(row) ? QColor(m_rows[static_cast<size_t>(row)].colour) : QColor();
}

bool FilesListModel::RowHighlighted(int row) const
{
    return validRow(row) && m_rows[static_cast<size_t>(row)].highlighted;
}

QString FilesListModel::ColumnKey(int column)
{
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(kKeys[column]) : QString();
}

int FilesListModel::ColumnOfKey(const QString& key)
{
    for (int c = 0; c < ColumnCount; ++c) {
        if (key == QLatin1String(kKeys[c])) {
            return c;
        }
    }
    return -1;
}

void FilesListModel::rowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::ForegroundRole, Qt::FontRole});
}
