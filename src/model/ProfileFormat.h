#pragma once

#include <QString>

class ProfileStore;

// Where profiles live and how values go into them.
class ProfileFormat
{
public:
    // <data folder>/Brackwell/Utilities/Sentrel v1/Profiles/<name>/Sentrel.ini
    [[nodiscard]] static QString ProfilePath(const QString& profileName);
    // Deletes the key when the value equals the default exactly, otherwise writes it.
    static bool WriteIniValue(ProfileStore& store,
                              const QString& section,
                              const QString& key,
                              const QString& value,
                              const QString& defaultValue);
    // Reads a whole-number key as a Boolean: any non-zero number is true.
    [[nodiscard]] static bool
    ReadIniBool(ProfileStore& store, const QString& section, const QString& key, bool defaultValue);
};
