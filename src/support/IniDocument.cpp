#include "support/IniDocument.h"

struct IniDocument::Data
{
    QByteArray bytes;
};

IniDocument::IniDocument() : d(std::make_unique<Data>()) {}
IniDocument::~IniDocument() = default;
IniDocument::IniDocument(const IniDocument& other) : d(std::make_unique<Data>(*other.d)) {}
IniDocument& IniDocument::operator=(const IniDocument& other)
{
    *d = *other.d;
    return *this;
}
IniDocument::IniDocument(IniDocument&&) noexcept = default;
IniDocument& IniDocument::operator=(IniDocument&&) noexcept = default;

IniDocument IniDocument::Parse(QByteArrayView bytes)
{
    IniDocument doc;
    doc.d->bytes = bytes.toByteArray();
    return doc;
}

QByteArray IniDocument::Serialize() const
{
    return d->bytes;
}

std::optional<QString> IniDocument::Value(QStringView, QStringView) const
{
    return std::nullopt;
}

bool IniDocument::SetValue(QStringView, QStringView, QStringView)
{
    return false;
}

bool IniDocument::RemoveKey(QStringView, QStringView)
{
    return false;
}
