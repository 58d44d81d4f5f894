#pragma once
// 8-bit text as the window's code works with it, and the conversions at the
// boundary to the UTF-16 strings of the browser, the HTML engine and the widgets.
// The system code page here is UTF-8.

#include <QString>

#include <string>

using AnsiString = std::string;

// A null QString converts to empty text.
inline AnsiString ToAnsi(const QString& wide) { return wide.toStdString(); }
inline QString ToWide(const AnsiString& text) { return QString::fromStdString(text); }

// 1-based position of the first occurrence of `sub` in `s` (byte-exact,
// case-sensitive), 0 when it does not occur. An empty `sub` is not found.
inline int Pos(const AnsiString& sub, const AnsiString& s)
{
    if (sub.empty())
        return 0;
    const auto at = s.find(sub);
    return at == AnsiString::npos ? 0 : static_cast<int>(at) + 1;
}

// Removes every leading character whose code is 32 or less.
inline AnsiString TrimLeft(const AnsiString& s)
{
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32)
        ++i;
    return s.substr(i);
}
