#include "support/IniFile.h"

QString IniFile::ReadString(const QString&, const QString&, const QString& defaultValue, const QString&)
{
    return defaultValue;
}

qint32 IniFile::ReadInt(const QString&, const QString&, qint32 defaultValue, const QString&)
{
    return defaultValue;
}

bool IniFile::WriteString(const QString&, const QString&, const std::optional<QString>&, const QString&)
{
    return false;
}

IniFile::Transaction::Transaction(const QString& file) : m_file(file) {}
IniFile::Transaction::~Transaction() = default;
bool IniFile::Transaction::Commit()
{
    m_open = false;
    return true;
}

quint64 IniFile::Replacements()
{
    return 0;
}

void IniFile::ForgetAll() {}
