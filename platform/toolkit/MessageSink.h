#pragma once
// Where message boxes go when nobody is there to click them. A program
// without a window of its own (the extraction tool, a benchmark, a fuzz run)
// or a test installs a sink: while it is installed, ShowMessage and the
// default error box (TApplication::ShowException) hand their text to it and
// return at once; no box opens and nothing is written to standard error.
// Without a sink the boxes are shown (Forms.h).
//
// Sinks are used on the thread that runs the message loop, like the boxes.

#include <QString>

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // The text of a ShowMessage call.
    virtual void Message(const QString& text) = 0;
    // The text of the default error box: an error that escaped an event
    // handler or a close handler (empty when it carried no text).
    virtual void Error(const QString& text) = 0;
};

// Installs `sink` for its own lifetime; when it goes, the sink installed
// before it (or none) is back. Installers nest: destroy them in the reverse
// order of their creation, as scopes and members do. The sink must outlive
// the installer.
class ScopedMessageSink {
public:
    explicit ScopedMessageSink(MessageSink& sink);
    ~ScopedMessageSink();
    ScopedMessageSink(const ScopedMessageSink&) = delete;
    ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

private:
    MessageSink* previous_;
};

// The installed sink; nullptr when message boxes are shown.
MessageSink* CurrentMessageSink();
