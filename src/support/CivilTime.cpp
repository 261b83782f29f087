#include "support/CivilTime.h"

bool CivilTime::FromEpochMSecs(qint64, bool, CivilTime&)
{
    return false;
}

bool CivilTime::FromTimeT(std::time_t, bool, CivilTime&)
{
    return false;
}

qint32 CivilTime::DaysSinceBase(int, int, int)
{
    return 0;
}

void CivilTime::FromDaysSinceBase(qint32, CivilTime&) {}
