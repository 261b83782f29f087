#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Everything a notifier needs to tell about one event of one watched file,
// taken from the profile when the check found the event. A plain value: the
// notifier keeps no reference to the settings or the file.
struct Notification
{
    enum class Event { Changed, OutOfDate, Missing, Recovered };

    // The file's 1-based position in the watch list.
    qint32 index = 0;
    Event event = Event::Changed;
    // A reminder that an out-of-date or missing alert still stands.
    bool reminder = false;
    // When the file entered the state told (for a recovery: when its problem
    // began); invalid when unknown.
    QDateTime since;

    // The file as the check saw it: its expanded name, its names for people,
    // its time and its rule.
    QString fileName;
    QString friendlyName;
    QString displayName;
    QDateTime lastModified;
    qint32 staleMins = 0;
    bool attachFile = false;
    // The moment of the check, for the placeholders that tell the time and the age.
    QDateTime checkedAt;

    // Where the mail goes and how it is submitted, as the profile says.
    QString server;
    qint32 port = 25;
    QString security;
    QString caFile;
    QString loginName; // logs in only when not empty
    QString password;
    QString from;
    QString to;
};
