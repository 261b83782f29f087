#pragma once

#include <QtGlobal>

// The source of "now" for everything that measures time against the present
// moment: the wall clock for stamps, and a monotonic clock for intervals, which
// setting the system time does not move. The real clock reads the system's
// clocks; tests install a FixedClock.
class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds since 1970-01-01T00:00:00Z.
    [[nodiscard]] virtual qint64 NowMSecsSinceEpoch() const = 0;
    // Milliseconds since an arbitrary start; only differences mean anything.
    [[nodiscard]] virtual qint64 MonotonicMSecs() const = 0;

    // The clock in use for the whole process.
    [[nodiscard]] static const Clock& Current();
    // Installs a clock (nullptr restores the system clock); returns the one replaced.
    static const Clock* Install(const Clock* clock);
};

// A clock that stands still until told to move; installs itself for its lifetime.
class FixedClock : public Clock
{
public:
    explicit FixedClock(qint64 msecsSinceEpoch);
    ~FixedClock() override;
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

    [[nodiscard]] qint64 NowMSecsSinceEpoch() const override { return m_now; }
    [[nodiscard]] qint64 MonotonicMSecs() const override { return m_monotonic; }
    // Sets the wall clock only, as a user setting the system time does.
    void Set(qint64 msecsSinceEpoch) { m_now = msecsSinceEpoch; }
    // Time passes: both clocks move on.
    void AdvanceSeconds(double seconds)
    {
        const auto msecs = static_cast<qint64>(seconds * 1000.0);
        m_now += msecs;
        m_monotonic += msecs;
    }

private:
    qint64 m_now;
    qint64 m_monotonic = 0;
    const Clock* m_previous;
};
