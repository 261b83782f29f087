#include "support/SystemUtility.h"

#include <QFile>
#include <QSysInfo>

#include <cstdio>
#include <cstring>

QString SystemUtility::ComputerName()
{
    return QSysInfo::machineHostName();
}

bool SystemUtility::HasProcessMemoryCounters()
{
    static const bool available = QFile::exists(QStringLiteral("/proc/self/status"));
    return available;
}

bool SystemUtility::ProcessMemory(qint64& workingSet, qint64& privateCommitted)
{
    workingSet = 0;
    privateCommitted = 0;
    // VmRSS is the resident set; VmData + VmStk is the private writable memory
    // the process has committed, the nearest thing to a page-file usage.
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) {
        return false;
    }
    char line[256];
    long long rss = -1;
    long long data = 0;
    long long stk = 0;
    while (std::fgets(line, sizeof line, f)) {
        long long kb = 0;
        if (std::sscanf(line, "VmRSS: %lld kB", &kb) == 1) {
            rss = kb;
        } else if (std::sscanf(line, "VmData: %lld kB", &kb) == 1) {
            data = kb;
        } else if (std::sscanf(line, "VmStk: %lld kB", &kb) == 1) {
            stk = kb;
        }
    }
    std::fclose(f);
    if (rss < 0) {
        return false;
    }
    workingSet = rss * 1024;
    privateCommitted = (data + stk) * 1024;
    return true;
}
