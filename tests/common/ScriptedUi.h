#pragma once

#include "support/UserInterface.h"

#include <QStringList>

// Stands in for a person: records each message it is shown, marked "(busy) "
// when shown under the busy pointer, and gives the one answer it was told to give.
class ScriptedUi : public UserInterface
{
public:
    QStringList asked;
    Answer answer = Answer::No;
    Pointer pointer = Pointer::Normal;
    Answer ShowMessage(const QString& text, Icon, Buttons, Answer) override
    {
        asked << (pointer == Pointer::Busy ? QStringLiteral("(busy) ") : QString()) + text;
        return answer;
    }
    Pointer CurrentPointer() const override { return pointer; }
    void SetPointer(Pointer p) override { pointer = p; }
};
