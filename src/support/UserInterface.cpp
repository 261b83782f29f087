#include "support/UserInterface.h"

#include <cstdio>

namespace {
UserInterface* g_ui = nullptr;
}

UserInterface* UserInterface::Install(UserInterface* ui)
{
    UserInterface* previous = g_ui;
    g_ui = ui;
    return previous;
}

UserInterface* UserInterface::Current()
{
    return g_ui;
}

UserInterface::Answer UserInterface::Message(const QString& text, Icon icon, Buttons buttons, Answer defaultAnswer)
{
    if (g_ui) {
        return g_ui->ShowMessage(text, icon, buttons, defaultAnswer);
    }
    // Nobody to ask: warnings go to standard error and the default answer stands.
    if (icon == Icon::Exclamation || icon == Icon::Critical) {
        std::fprintf(stderr, "sentrel: %s\n", ConsoleText(text).toLocal8Bit().constData());
    }
    return defaultAnswer;
}

QString UserInterface::ConsoleText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (u < 0x20 || (u >= 0x7f && u < 0xa0)) {
            out += QStringLiteral("\\x") + QString::number(u, 16).rightJustified(2, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

UserInterface::Pointer UserInterface::GetPointer()
{
    return g_ui ? g_ui->CurrentPointer() : Pointer::Normal;
}

void UserInterface::SetPointerShape(Pointer pointer)
{
    if (g_ui) {
        g_ui->SetPointer(pointer);
    }
}

BusyPointer::BusyPointer()
    : m_previous(UserInterface::GetPointer())
{
    UserInterface::SetPointerShape(UserInterface::Pointer::Busy);
}

BusyPointer::~BusyPointer()
{
    UserInterface::SetPointerShape(m_previous);
}
