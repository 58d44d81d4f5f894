#pragma once
// Message boxes recorded instead of shown, through the toolkit's message sink
// (platform/toolkit/MessageSink.h).

#include "platform/toolkit/Forms.h"
#include "platform/toolkit/MessageSink.h"

#include <QStringList>

#include <functional>
#include <optional>

// Records the texts of message boxes for as long as it lives: ShowMessage
// texts as they are, error-box texts behind "error: ". The sink installed
// before it is back when it goes.
class RecordedMessages final : private MessageSink {
public:
    RecordedMessages() : installed_(*this) {}

    QStringList texts;

private:
    void Message(const QString& text) override { texts << text; }
    void Error(const QString& text) override { texts << QStringLiteral("error: ") + text; }

    ScopedMessageSink installed_;
};

// A sink of two functions, for a fixture that reacts to a box while it is
// shown. An empty function swallows its texts. Install it with a
// ScopedMessageSink (a std::optional one for SetUp .. TearDown).
class MessageCallbacks final : public MessageSink {
public:
    std::function<void(const QString& text)> onMessage;  // ShowMessage
    std::function<void(const QString& text)> onError;    // default error box

    void Message(const QString& text) override
    {
        if (onMessage)
            onMessage(text);
    }
    void Error(const QString& text) override
    {
        if (onError)
            onError(text);
    }
};
