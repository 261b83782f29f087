#pragma once

#include <QString>
#include <QTreeView>

// The files list: a row keeps its state colour while selected, the selection
// shown as a tint behind it, and an empty list says how to add a file.
class FilesListView : public QTreeView
{
    Q_OBJECT

public:
    using QTreeView::QTreeView;

    // Drawn in the middle of the list while it has no rows.
    static const QString EmptyText;

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paintEvent(QPaintEvent* event) override;
};
