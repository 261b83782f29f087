#pragma once

#include <QtGlobal>

class cSettings;
class HistorySink;

// The mail code (messages with GMime, SMTP with libcurl, and the TLS and
// other libraries behind them) built as a module, "sentrel-mail.so", which
// the service program loads only when its first notification is due. The
// module offers one C function, kMailModuleEntry, which returns this table.
struct SentrelMailModule
{
    // The program version the module was built for; a module of another
    // version is not used, as the two share the program's classes.
    const char* version;
    bool (*sendNotification)(const cSettings& settings, qint16 index, HistorySink& history);
    void (*cancelSends)();
};

inline constexpr char kMailModuleFile[] = "sentrel-mail.so";
inline constexpr char kMailModuleEntry[] = "sentrel_mail_module";
