#include "support/GeneralUtility.h"

#include "SentrelConfig.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

struct State
{
    AppInfo app;
    QString commandLine;
};

State& state()
{
    static State s;
    return s;
}

QString runningExecutable()
{
    if (QCoreApplication::instance()) {
        return QCoreApplication::applicationFilePath();
    }
    // No application object yet (tests, fuzzers): ask the kernel.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// Key characters of the stored-secret transform: a reflection of the printable
// ASCII range (33..126) about a key that changes with the position.
constexpr int kFirst = 33;
constexpr int kSpan = 94;
constexpr int kKey[] = {17, 62, 5, 88, 41, 29, 73, 11, 56, 90, 3, 47, 68, 24, 81, 35};

} // namespace

void GeneralUtility::SetApp(const AppInfo& app)
{
    state().app = app;
}

void GeneralUtility::SetAppFromArguments(const QStringList& arguments)
{
    const QFileInfo exe(runningExecutable());
    AppInfo app;
    app.Title = QStringLiteral(SENTREL_PRODUCT_NAME);
    app.ProductName = QStringLiteral(SENTREL_PRODUCT_NAME);
    app.ExeName = exe.fileName();
    app.ExePath = exe.absolutePath();
    app.Version = QStringLiteral(SENTREL_VERSION);
    app.CommandLine = JoinCommandLine(arguments);
    SetApp(app);
}

const AppInfo& GeneralUtility::App()
{
    if (state().app.ExeName.isEmpty()) {
        // Nothing set yet: describe the running executable, without arguments.
        SetAppFromArguments({});
    }
    return state().app;
}

QString GeneralUtility::JoinCommandLine(const QStringList& arguments)
{
    QString line;
    for (const QString& arg : arguments) {
        if (!line.isEmpty()) {
            line += QLatin1Char(' ');
        }
        if (arg.contains(QLatin1Char(' ')) || arg.contains(QLatin1Char('\t'))) {
            line += QLatin1Char('"') + arg + QLatin1Char('"');
        } else {
            line += arg;
        }
    }
    return line;
}

void GeneralUtility::SetCommandLine(const QString& text)
{
    state().commandLine = text;
}

QString GeneralUtility::CommandLine()
{
    return state().commandLine;
}

QString
GeneralUtility::ExtractToken(const QString& text, qsizetype start, QStringView delimiter, qsizetype* nextPosition)
{
    const qsizetype from = qMax<qsizetype>(start, 1) - 1;
    if (from >= text.size()) {
        if (nextPosition) {
            *nextPosition = 0;
        }
        return {};
    }
    const qsizetype at = delimiter.isEmpty() ? -1 : text.indexOf(delimiter, from);
    if (nextPosition) {
        *nextPosition = at < 0 ? 0 : at + 1;
    }
    return at < 0 ? text.mid(from) : text.mid(from, at - from);
}

QString GeneralUtility::TransformSecret(const QString& text, bool enable)
{
    if (!enable || text.isEmpty()) {
        return text;
    }
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char16_t c = out.at(i).unicode();
        if (c >= kFirst && c < kFirst + kSpan) {
            const int key = kKey[i % std::size(kKey)];
            const int reflected = ((key - (c - kFirst)) % kSpan + kSpan) % kSpan;
            out[i] = QChar(static_cast<char16_t>(kFirst + reflected));
        }
    }
    return out;
}

int GeneralUtility::FilterKeyPress(int keyCode, int mode)
{
    if (mode != 1) {
        return keyCode;
    }
    constexpr int backspace = 8;
    if ((keyCode >= '0' && keyCode <= '9') || keyCode == backspace) {
        return keyCode;
    }
    return 0;
}

QString GeneralUtility::PadText(const QString& text, int width, QChar fill)
{
    return text.rightJustified(width, fill);
}
