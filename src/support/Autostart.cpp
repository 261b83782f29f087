#include "support/Autostart.h"

#include "support/FileSystemUtility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString kEntryName = QStringLiteral("com.brackwell.Sentrel.desktop");

bool plainPathCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || QStringLiteral("/._+-,:@").contains(c);
}

} // namespace

QString Autostart::EntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/") +
           kEntryName;
}

bool Autostart::Enabled()
{
    // Read as a bounded regular file: a FIFO or device put there must not hang the settings dialog.
    QByteArray text;
    QString why;
    if (!FileSystemUtility::ReadRegularFile(EntryPath(), 1024 * 1024, text, why)) {
        return false;
    }
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("Hidden=")) {
            return line.mid(7).trimmed() != "true";
        }
    }
    return true;
}

QString Autostart::ExecArgument(const QString& program)
{
    bool plain = !program.isEmpty();
    for (const QChar c : program) {
        plain = plain && plainPathCharacter(c);
    }
    QString argument;
    if (plain) {
        argument = program;
    } else {
        // Inside the quotes ", `, $ and \ take a backslash; the value's own
        // escape rule then doubles every backslash once more.
        QString quoted;
        for (const QChar c : program) {
            if (QStringLiteral("\"`$\\").contains(c)) {
                quoted += QLatin1Char('\\');
            }
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")) + QLatin1Char('"');
    }
    // A lone % would be a field code.
    return argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

bool Autostart::SetEnabled(bool on, const QString& program, QString& error)
{
    const QString path = EntryPath();
    if (!on) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            error = QStringLiteral("Could not remove %1").arg(QDir::toNativeSeparators(path));
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        error = QStringLiteral("Could not create the folder %1")
                    .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        return false;
    }
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), entry.errorString());
        return false;
    }
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Sentrel\n"
                                        "Comment=Mails people when a watched file changes or goes stale\n"
                                        "Exec=%1\n"
                                        "Icon=com.brackwell.Sentrel\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(ExecArgument(program));
    entry.write(text.toUtf8());
    if (!entry.commit()) {
        error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), entry.errorString());
        return false;
    }
    return true;
}
