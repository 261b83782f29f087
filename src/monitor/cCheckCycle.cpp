#include "monitor/cCheckCycle.h"

#include "model/cMonitorFile.h"
#include "model/cSettings.h"
#include "monitor/cCycleView.h"
#include "notify/NotificationComposer.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"

#include <QScopeGuard>

cCheckCycle::cCheckCycle(cCycleView& view)
    : m_view(view)
{ }

QString cCheckCycle::LastModifiedText(const cMonitorFile& file)
{
    const QDateTime modified = file.LastModifiedVB();
    return DateTimeUtility::IsPositiveDate(modified) ? DateTimeUtility::GeneralDate(modified)
                                                     : QStringLiteral("(Unknown)");
}

void cCheckCycle::CheckFiles(bool forceCheck)
{
    if (!m_settings) {
        return;
    }
    DebugLog(QStringLiteral("CheckFiles ") + (forceCheck ? QStringLiteral("True") : QStringLiteral("False")),
             5,
             LogIndentKeep);
    // A message box or a send that lets the event loop run can bring the next tick in here.
    if (m_running) {
        return;
    }

    const qint64 remainingMs = static_cast<qint64>(m_settings->PollInterval()) * 1000 - MSecsSinceLastCheck();
    if (m_lastCheck.Day > 0 && m_view.ShowsRows()) {
        m_view.ShowStatus(QStringLiteral(" Time until next check : ") +
                          DateTimeUtility::FormatSeconds(static_cast<double>(remainingMs) / 1000.0, 22));
    }
    if (!forceCheck && remainingMs > 0) {
        return;
    }

    m_view.EnterRunning();
    m_running = true;
    const auto reset = qScopeGuard([this] { m_running = false; });

    // A 32-bit counter: a 16-bit one wraps past the last of 32,767 files.
    const qint32 count = m_settings->NumberFiles();
    for (qint32 i = 1; i <= count; ++i) {
        const auto row = static_cast<qint16>(i);
        if (m_closing) {
            return;
        }
        m_view.SelectRow(row);
        m_view.ShowProgress(0);
        if (DebugLogWanted(5)) {
            DebugLog(QStringLiteral("Check File ") + QString::number(i), 5, LogIndentKeep);
        }
        cMonitorFile* file = m_settings ? m_settings->MonitorFile(row) : nullptr;
        if (!file) {
            // The list was replaced while a nested event ran; the rest belongs to the new list.
            DebugLog(QStringLiteral("Monitored file ") + QString::number(i) +
                         QStringLiteral(" is gone; the cycle stops here"),
                     5,
                     LogIndentKeep);
            break;
        }
        CheckOne(row, *file);
    }
    if (m_closing) {
        return;
    }

    m_view.ShowProgress(100);
    m_running = false;
    m_view.LeaveRunning();
    m_view.ShowStatus(QStringLiteral(" Checking...Finished"));
    RestartInterval();
    ++m_checksDone;
}

void cCheckCycle::RestartInterval()
{
    m_lastCheck = DateTimeUtility::NowStamp(0);
    m_lastCheckMonotonic = Clock::Current().MonotonicMSecs();
}

qint64 cCheckCycle::MSecsSinceLastCheck() const
{
    return Clock::Current().MonotonicMSecs() - m_lastCheckMonotonic;
}

const QString& cCheckCycle::ShownLastModified(qint16 index, const cMonitorFile& file)
{
    const auto at = static_cast<size_t>(index - 1);
    if (m_shownTimes.size() <= at) {
        m_shownTimes.resize(at + 1);
    }
    ShownTime& shown = m_shownTimes[at];
    if (shown.text.isNull() || !(shown.stamp == file.LastModifiedSD())) {
        shown.stamp = file.LastModifiedSD();
        shown.text = LastModifiedText(file);
    }
    return shown.text;
}

void cCheckCycle::CheckOne(qint16 index, cMonitorFile& file)
{
    const bool shown = m_view.ShowsRows();
    if (shown) {
        m_view.ShowStatus(QStringLiteral(" Checking ") + file.Filename());
        const QString displayName = file.DisplayName();
        if (m_view.CellText(index, cCycleView::Cell::FileName) != displayName) {
            m_view.SetCellText(index, cCycleView::Cell::FileName, displayName);
        }
    }

    if (file.CheckFile()) {
        if (file.NotifyNeeded()) {
            if (!file.BeenNotified()) {
                if (file.MonitorType() == cMonitorFile::NotifyWhenStale) {
                    m_view.SetRowColour(index, cCycleView::Red);
                    m_view.HighlightRow(index, true);
                }
                if (m_settings->SMTPEnabled()) {
                    // The outcome goes to the history; a failed mail is not retried.
                    NotificationComposer::SendNotification(*m_settings, index, m_view);
                }
                // Each event is mailed at most once, sent or not.
                file.MarkAsNotified();
            }
        } else if (m_view.RowColour(index) != cCycleView::White) {
            m_view.SetRowColour(index, cCycleView::White);
            m_view.HighlightRow(index, false);
        }
    }

    if (shown) {
        m_view.SetCellText(index, cCycleView::Cell::LastModified, ShownLastModified(index, file));
        m_view.SetCellText(index, cCycleView::Cell::Status, file.Status());
    }
}
