#include "app/FilesListView.h"

#include <QPainter>

const QString FilesListView::EmptyText =
    QStringLiteral("No files are watched yet. Use Settings > Program Settings to add one.");

void FilesListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem row = option;
    // The selection colour would hide a red row: its text keeps its own colour on a dimmed highlight.
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (foreground.canConvert<QBrush>()) {
        row.palette.setBrush(QPalette::HighlightedText, foreground.value<QBrush>());
    }
    const QColor base = option.palette.color(QPalette::Base);
    const QColor highlight = option.palette.color(QPalette::Highlight);
    row.palette.setColor(QPalette::Highlight,
                         QColor((base.red() + highlight.red()) / 2,
                                (base.green() + highlight.green()) / 2,
                                (base.blue() + highlight.blue()) / 2));
    QTreeView::drawRow(painter, row, index);
}

void FilesListView::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    if (model() && model()->rowCount(rootIndex()) > 0) {
        return;
    }
    QPainter painter(viewport());
    // A dimmed form of the list's own text colour, readable on whatever background the list has.
    QColor dimmed = palette().color(QPalette::Text);
    dimmed.setAlphaF(0.65F);
    painter.setPen(dimmed);
    const int margin = fontMetrics().averageCharWidth() * 2;
    painter.drawText(
        viewport()->rect().adjusted(margin, margin, -margin, -margin), Qt::AlignCenter | Qt::TextWordWrap, EmptyText);
}
