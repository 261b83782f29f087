#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the program tells the utilities about itself at start-up.
struct AppInfo
{
    QString Title;       // the application's title, for message boxes
    QString ProductName; // "Brackwell Sentrel v1"
    QString ExeName;     // the executable's name without its folder
    QString ExePath;     // the folder holding the executable
    QString Version;     // major.minor.revision
    QString CommandLine; // the arguments joined by spaces, those holding spaces quoted
};

// Process-wide application state and small text tools.
class GeneralUtility
{
public:
    // Stores the application's description; SetAppFromArguments builds it from
    // the running executable and its arguments (without the program name).
    static void SetApp(const AppInfo& app);
    static void SetAppFromArguments(const QStringList& arguments);
    [[nodiscard]] static const AppInfo& App();

    // The arguments joined by spaces, an argument holding spaces in double quotes.
    [[nodiscard]] static QString JoinCommandLine(const QStringList& arguments);

    static void SetCommandLine(const QString& text);
    [[nodiscard]] static QString CommandLine();

    [[nodiscard]] static qint32 MaxOf(qint32 a, qint32 b) { return a > b ? a : b; }

    // The text from the 1-based start position up to, not including, the next
    // delimiter (to the end when there is none). nextPosition receives the
    // 1-based position of that delimiter, or 0 when there is none.
    [[nodiscard]] static QString
    ExtractToken(const QString& text, qsizetype start, QStringView delimiter, qsizetype* nextPosition = nullptr);

    // Obfuscates a stored secret; its own inverse, and empty for empty. It is no protection.
    [[nodiscard]] static QString TransformSecret(const QString& text, bool enable);

    // Mode 1 keeps digits and editing keys (backspace); any other key becomes 0 (discarded).
    [[nodiscard]] static int FilterKeyPress(int keyCode, int mode);

    // The text padded on the left with the fill character to the width.
    [[nodiscard]] static QString PadText(const QString& text, int width, QChar fill = QLatin1Char(' '));
};
