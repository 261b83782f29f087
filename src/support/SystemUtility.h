#pragma once

#include <QString>
#include <QtGlobal>

// Facts about the machine and the running process.
class SystemUtility
{
public:
    [[nodiscard]] static QString ComputerName();
    // True when the system reports per-process memory counters.
    [[nodiscard]] static bool HasProcessMemoryCounters();
    // Working set (resident memory) and committed private memory of this process, in bytes; false when unknown.
    [[nodiscard]] static bool ProcessMemory(qint64& workingSet, qint64& privateCommitted);
};
