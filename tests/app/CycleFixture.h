#pragma once

#include "AppTestSupport.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"

#include <QAction>
#include <memory>

#include <QString>
#include <vector>

// The check cycle's tests: a hand-written profile of watched files, the
// window started on it, and the clock standing still until told to move.

namespace AppTest {

// One monitored file of a test profile; storedSecs 0 means never seen.
struct Watch
{
    QString path;
    qint32 staleMins = 0;
    QString friendlyName;
    qint64 storedSecs = 0;
};

// Profile "Profile1" as a person would write it by hand.
struct CycleProfile
{
    std::vector<Watch> files;
    qint32 pollInterval = 30;
    bool smtpEnabled = false;
    QString smtpAddress = QStringLiteral("127.0.0.1");
    int smtpPort = 25;
    bool watchEvents = false;

    [[nodiscard]] QString Text() const
    {
        QString text = QStringLiteral("[General]\nNumberFiles=%1\nPollInterval=%2\nWatchEvents=%3\n\n")
                           .arg(files.size())
                           .arg(pollInterval)
                           .arg(watchEvents ? 1 : 0);
        text += QStringLiteral("[SMTPServer]\nEnabled=%1\nAddress=%2\nPort=%3\n\n")
                    .arg(smtpEnabled ? 1 : 0)
                    .arg(smtpAddress)
                    .arg(smtpPort);
        text += QStringLiteral("[Email]\nFrom=sentrel@example.org\nTo=ops@example.org\n");
        for (size_t i = 0; i < files.size(); ++i) {
            const Watch& w = files[i];
            text += QStringLiteral("\n[File%1]\nFileName=%2\n").arg(i + 1).arg(w.path);
            if (!w.friendlyName.isEmpty()) {
                text += QStringLiteral("FriendlyName=%1\n").arg(w.friendlyName);
            }
            if (w.staleMins != 0) {
                text += QStringLiteral("StaleMins=%1\n").arg(w.staleMins);
            }
            if (w.storedSecs != 0) {
                text += QStringLiteral("LastModified=%1\n").arg(Stamp(w.storedSecs));
            }
        }
        return text;
    }
};

class CycleFixture : public ::testing::Test
{
protected:
    void SetUp() override { m_folder = TestEnvironment::NewFolder(QStringLiteral("watched")); }

    // A watched file last modified secondsAgo before the start, and its profile entry.
    Watch File(const QString& name, qint64 secondsAgo, qint32 staleMins = 0)
    {
        Watch w;
        w.path = WatchedFile(m_folder, name, NowSecs() - secondsAgo);
        w.staleMins = staleMins;
        w.storedSecs = NowSecs() - secondsAgo;
        return w;
    }
    void Start(const CycleProfile& profile)
    {
        ASSERT_TRUE(WriteProfile(profile.Text()));
        m_logStart = LogText().size();
        m_window = std::make_unique<frmMain>();
        ASSERT_TRUE(m_window->Load({QStringLiteral("/NOPREVCHECK"), QStringLiteral("/DEBUG=NORMAL")}));
    }
    // What this test's window logged.
    QString Log() const { return LogText().mid(m_logStart); }
    void Advance(double seconds) { m_clock.AdvanceSeconds(seconds); }
    void Tick() { m_window->Cycle().Tick(); }
    void Touch(const Watch& w, qint64 secondsAfterStart)
    {
        ASSERT_TRUE(TestEnvironment::SetModified(w.path, NowSecs() + secondsAfterStart));
    }
    QAction* Action(const char* name) const { return Find<QAction>(m_window.get(), name); }
    QString Key(int file, const char* key) const
    {
        return ConfigUtility::ReadIniString(
            QStringLiteral("File%1").arg(file), QLatin1String(key), QStringLiteral("<absent>"), ProfilePath());
    }
    // Runs the handler once, when the cycle writes the status cell of the given row.
    void OnStatusCell(int row, std::function<void()> handler)
    {
        QAbstractItemModel* files = Files(*m_window);
        const int column = FilesColumn(*m_window, "STATUS");
        auto done = std::make_shared<bool>(false);
        QObject::connect(files,
                         &QAbstractItemModel::dataChanged,
                         m_window.get(),
                         [=](const QModelIndex& from, const QModelIndex& to) {
                             if (!*done && from.row() <= row - 1 && to.row() >= row - 1 && from.column() <= column &&
                                 to.column() >= column) {
                                 *done = true;
                                 handler();
                             }
                         });
    }

    // Runs the handler once, when a history line containing the text is added.
    void OnHistoryLine(const QString& text, std::function<void()> handler)
    {
        QTreeWidget* history = Find<QTreeWidget>(m_window.get(), "lvwHistory");
        auto done = std::make_shared<bool>(false);
        QObject::connect(
            history->model(), &QAbstractItemModel::rowsInserted, m_window.get(), [=](const QModelIndex&, int first) {
                // The row's cells are filled before the item joins the list.
                if (!*done && history->topLevelItem(first)->text(1).contains(text)) {
                    *done = true;
                    handler();
                }
            });
    }

    FixedClock m_clock {NowMSecs()};
    QString m_folder;
    qsizetype m_logStart = 0;
    std::unique_ptr<frmMain> m_window;
};

} // namespace AppTest
