#pragma once

#include <QString>

// What core code needs to show to a person. The window program installs an
// implementation at start-up; without one (headless, tests) messages are only
// logged and questions get their default answer.
class UserInterface
{
public:
    enum class Icon { None, Information, Exclamation, Question, Critical };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };
    enum class Pointer { Normal, Busy };

    virtual ~UserInterface() = default;
    virtual Answer ShowMessage(const QString& text, Icon icon, Buttons buttons, Answer defaultAnswer) = 0;
    virtual Pointer CurrentPointer() const = 0;
    virtual void SetPointer(Pointer pointer) = 0;

    // Returns the previous one; nullptr removes it.
    static UserInterface* Install(UserInterface* ui);
    [[nodiscard]] static UserInterface* Current();

    // Helpers that do the right thing when nothing is installed.
    static Answer
    Message(const QString& text, Icon icon, Buttons buttons = Buttons::Ok, Answer defaultAnswer = Answer::Ok);
    [[nodiscard]] static Pointer GetPointer();
    static void SetPointerShape(Pointer pointer);

    // The text for a terminal or the journal: control characters as "\x1b",
    // a backslash as "\\", so that a file name can neither steer the
    // terminal nor pass for another.
    [[nodiscard]] static QString ConsoleText(const QString& text);
};

// Shows the busy pointer for its lifetime and restores the one before.
class BusyPointer
{
public:
    BusyPointer();
    ~BusyPointer();
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    UserInterface::Pointer m_previous;
};
