#pragma once

#include "support/UserInterface.h"

#include <QStringList>

// Stands in for a person: records each message it is shown and gives the one
// answer it was told to give.
class ScriptedUi : public UserInterface
{
public:
    QStringList asked;
    Answer answer = Answer::No;
    Answer ShowMessage(const QString& text, Icon, Buttons, Answer) override
    {
        asked << text;
        return answer;
    }
    Pointer CurrentPointer() const override { return Pointer::Normal; }
    void SetPointer(Pointer) override { }
};
