#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <vector>

// The rows of the files list: an empty "ENABLED" cell, then file name, last
// modified and status, each row with one text colour and an emphasis flag.
// A plain table rather than item objects, so 10,000 rows stay light.
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
    // Text of a cell; Qt::ForegroundRole and Qt::FontRole (bold) set the whole row.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    [[nodiscard]] QVariant
    headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    struct Row
    {
        QString fileName;
        QString lastModified;
        QString status;
        QRgb colour = qRgb(255, 255, 255);
        bool highlighted = false;
    };

    void Clear();
    // Replaces every row at once: one reset instead of 10,000 insertions.
    void SetRows(std::vector<Row> rows);
    [[nodiscard]] QString Text(int row, int column) const;
    void SetText(int row, int column, const QString& text);
    [[nodiscard]] QColor RowColour(int row) const;
    [[nodiscard]] bool RowHighlighted(int row) const;

    [[nodiscard]] static QString ColumnKey(int column);
    // The column with that key, or -1.
    [[nodiscard]] static int ColumnOfKey(const QString& key);

private:
    [[nodiscard]] bool validRow(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }
    void rowChanged(int row);

    std::vector<Row> m_rows;
};
