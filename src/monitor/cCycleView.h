#pragma once

#include "notify/HistorySink.h"

#include <QString>
#include <QtGlobal>

// What the check cycle shows while it runs: the countdown and status text, the
// progress, the rows of the files list and the history. The main window
// implements it with widgets; a headless service can implement it over the log.
// Rows are 1-based, row i belonging to monitored file i.
class cCycleView : public HistorySink
{
public:
    enum class Cell { FileName, LastModified, Status };

    // Row text colours as 0xRRGGBB.
    static constexpr quint32 White = 0xFFFFFF;
    static constexpr quint32 Red = 0xFF0000;

    virtual void ShowStatus(const QString& text) = 0;
    virtual void ShowProgress(int percent) = 0;
    // Busy pointer on, settings locked while a cycle runs; and back.
    virtual void EnterRunning() = 0;
    virtual void LeaveRunning() = 0;

    virtual void SelectRow(qint16 row) = 0;
    [[nodiscard]] virtual QString CellText(qint16 row, Cell cell) const = 0;
    virtual void SetCellText(qint16 row, Cell cell, const QString& text) = 0;
    [[nodiscard]] virtual quint32 RowColour(qint16 row) const = 0;
    virtual void SetRowColour(qint16 row, quint32 rgb) = 0;
    virtual void HighlightRow(qint16 row, bool on) = 0;

    // False for a view that shows neither rows nor a status line (a service):
    // the cycle then builds none of their texts. Colours are still kept.
    [[nodiscard]] virtual bool ShowsRows() const { return true; }
};
