#pragma once

#include <QDateTime>
#include <QString>

// Where history lines go: the main window's list, or standard output when headless.
class HistorySink
{
public:
    virtual ~HistorySink() = default;
    virtual void AddHistory(const QDateTime& when, const QString& text) = 0;
};
