#include "app/ControlUtility.h"

#include <QAbstractItemModel>
#include <QBrush>
#include <QColor>
#include <QFont>

namespace {
bool hasRow(const QAbstractItemModel* model, int row)
{
    return model && row >= 0 && row < model->rowCount();
}
} // namespace

void ControlUtility::HighlightListItem(QAbstractItemModel* model, int row, bool on)
{
    if (!hasRow(model, row)) {
        return;
    }
    QFont font;
    font.setBold(on);
    for (int column = 0; column < model->columnCount(); ++column) {
        model->setData(model->index(row, column), font, Qt::FontRole);
    }
}

void SetListItemColour(QAbstractItemModel* model, int row, const QColor& colour)
{
    if (!hasRow(model, row)) {
        return;
    }
    for (int column = 0; column < model->columnCount(); ++column) {
        model->setData(model->index(row, column), QBrush(colour), Qt::ForegroundRole);
    }
}
