#pragma once
// The one error type of the database layer and of the store above it.

#include "platform/base/AnsiString.h"

#include <QSqlError>
#include <QString>

#include <stdexcept>
#include <string>

// Every failure of OpenAliasDatabase and of the store's statements.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    // A failure the engine reported: the text is "<what>: <the engine's
    // message>", and the engine's code and message are kept apart as well.
    EDatabaseError(const QString& what, const QSqlError& cause)
        : std::runtime_error(ToAnsi(what + QStringLiteral(": ") + cause.text()))
        , nativeCode_(ToAnsi(cause.nativeErrorCode()))
        , engineMessage_(ToAnsi(cause.text()))
    {
    }

    // The engine's own error code (SQLSTATE, SQLite result code) and message,
    // without the statement that met them: the same fault met by different
    // statements has the same values. Empty when the engine gave none or the
    // failure was not the engine's.
    const std::string& NativeCode() const noexcept { return nativeCode_; }
    const std::string& EngineMessage() const noexcept { return engineMessage_; }

private:
    std::string nativeCode_;
    std::string engineMessage_;
};
