#include "support/DebugLog.h"

void InitDebugLevel() {}
void DebugLog(const QString&, qint32, qint32) {}
QString ReportError(const QString& action, const QString&, bool)
{
    return action;
}
QString ReportErrorNumber(const QString& action, qint32, bool, qint32, const QString&)
{
    return action;
}
QString GetSwitchValue(const QString&, const QString&, const QString&, const QString&)
{
    return {};
}
void GetProcessMemory(qint64& a, qint64& b)
{
    a = b = 0;
}
QString DebugLogFilePath()
{
    return {};
}
void ResetDebugLogState() {}
