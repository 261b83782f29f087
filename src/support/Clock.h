#pragma once

#include <QtGlobal>

// The source of "now" for everything that measures time against the present
// moment. The real clock reads the system time; tests install a FixedClock.
class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds since 1970-01-01T00:00:00Z.
    [[nodiscard]] virtual qint64 NowMSecsSinceEpoch() const = 0;

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
    void Set(qint64 msecsSinceEpoch) { m_now = msecsSinceEpoch; }
    void AdvanceSeconds(double seconds) { m_now += static_cast<qint64>(seconds * 1000.0); }

private:
    qint64 m_now;
    const Clock* m_previous;
};
