// The check cycle without any widget: the core library alone drives a plain
// table of rows, as the headless service will. Links no Qt Widgets.
#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "monitor/cCheckCycle.h"
#include "monitor/cCycleView.h"
#include "support/Clock.h"
#include "support/DateTimeUtility.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral(" | ")).toStdString() << ']';
}

namespace {

const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();

// Rows of cells, and every status, progress and running change in order.
class TableView : public cCycleView
{
public:
    struct Row
    {
        QString cells[3];
        quint32 colour = White;
        bool highlighted = false;
    };
    std::vector<Row> rows;
    QStringList events;

    void AddHistory(const QDateTime&, const QString& text) override { events << QStringLiteral("history ") + text; }
    void ShowStatus(const QString& text) override { events << QStringLiteral("status") + text; }
    void ShowProgress(int percent) override { events << QStringLiteral("progress %1").arg(percent); }
    void EnterRunning() override { events << QStringLiteral("enter"); }
    void LeaveRunning() override { events << QStringLiteral("leave"); }
    void SelectRow(qint16 row) override { events << QStringLiteral("select %1").arg(row); }
    QString CellText(qint16 row, Cell cell) const override { return at(row).cells[static_cast<int>(cell)]; }
    void SetCellText(qint16 row, Cell cell, const QString& text) override
    {
        at(row).cells[static_cast<int>(cell)] = text;
    }
    quint32 RowColour(qint16 row) const override { return at(row).colour; }
    void SetRowColour(qint16 row, quint32 rgb) override { at(row).colour = rgb; }
    void HighlightRow(qint16 row, bool on) override { at(row).highlighted = on; }

private:
    Row& at(qint16 row) const { return const_cast<TableView*>(this)->rows.at(static_cast<size_t>(row - 1)); }
};

class CoreCycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString folder = TestEnvironment::NewFolder(QStringLiteral("watched"));
        m_export = folder + QStringLiteral("/export.csv");
        m_heartbeat = folder + QStringLiteral("/heartbeat.txt");
        TestEnvironment::WriteFile(m_export, "x");
        TestEnvironment::WriteFile(m_heartbeat, "y");
        TestEnvironment::SetModified(m_export, kNow - 3600);
        TestEnvironment::SetModified(m_heartbeat, kNow - 900); // stale since before the start
        const QString stamp =
            QDateTime::fromSecsSinceEpoch(kNow - 3600).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        TestEnvironment::WriteFile(ProfileFormat::ProfilePath(QStringLiteral("Core")),
                                   QStringLiteral("[General]\nNumberFiles=2\n[SMTPServer]\nEnabled=0\n"
                                                  "[File1]\nFileName=%1\nLastModified=%2\n"
                                                  "[File2]\nFileName=%3\nStaleMins=10\n")
                                       .arg(m_export, stamp, m_heartbeat)
                                       .toUtf8());
        ASSERT_TRUE(m_settings.ReadSettings(QStringLiteral("Core")));
        m_view.rows.resize(2);
        m_cycle.SetSettings(&m_settings);
        m_cycle.RestartInterval();
    }

    FixedClock m_clock {kNow * 1000};
    QString m_export;
    QString m_heartbeat;
    cSettings m_settings;
    TableView m_view;
    cCheckCycle m_cycle {m_view};
};

TEST_F(CoreCycle, DrivesTheViewThroughEveryStepInOrder)
{
    m_clock.AdvanceSeconds(12);
    m_cycle.Tick();
    EXPECT_EQ(m_view.events, QStringList {QStringLiteral("status Time until next check : 0:18")});

    m_view.events.clear();
    m_clock.AdvanceSeconds(18);
    m_cycle.Tick();
    const QStringList expected = {
        QStringLiteral("status Time until next check : 0:00"),
        QStringLiteral("enter"),
        QStringLiteral("select 1"),
        QStringLiteral("progress 0"),
        QStringLiteral("status Checking ") + m_export,
        QStringLiteral("select 2"),
        QStringLiteral("progress 0"),
        QStringLiteral("status Checking ") + m_heartbeat,
        QStringLiteral("progress 100"),
        QStringLiteral("leave"),
        QStringLiteral("status Checking...Finished"),
    };
    EXPECT_EQ(m_view.events, expected);
    EXPECT_EQ(m_view.rows[0].cells[0], m_export);
    EXPECT_EQ(m_view.rows[0].cells[2], QStringLiteral("OK"));
    EXPECT_EQ(m_view.rows[1].cells[2], QStringLiteral("Out of Date!"));
    EXPECT_EQ(m_view.rows[1].colour, cCycleView::Red);
    EXPECT_TRUE(m_view.rows[1].highlighted);
    EXPECT_TRUE(m_settings.MonitorFile(2)->BeenNotified());
    EXPECT_EQ(m_cycle.LastCheck(), DateTimeUtility::NowStamp(0));
}

} // namespace
