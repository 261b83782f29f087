#include "support/Clock.h"

#include <QDateTime>

#include <chrono>

namespace {

class SystemClock : public Clock
{
public:
    [[nodiscard]] qint64 NowMSecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }
    [[nodiscard]] qint64 MonotonicMSecs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

const SystemClock g_systemClock;
const Clock* g_clock = &g_systemClock;

} // namespace

const Clock& Clock::Current()
{
    return *g_clock;
}

const Clock* Clock::Install(const Clock* clock)
{
    const Clock* previous = g_clock;
    g_clock = clock ? clock : &g_systemClock;
    return previous;
}

FixedClock::FixedClock(qint64 msecsSinceEpoch)
    : m_now(msecsSinceEpoch)
    , m_previous(Clock::Install(this))
{ }

FixedClock::~FixedClock()
{
    Clock::Install(m_previous);
}
