#pragma once
// Records the texts of message boxes instead of showing them, for as long as
// it lives: ShowMessage texts as they are, error-box texts behind "error: ".

#include "platform/toolkit/Forms.h"

#include <QStringList>

class RecordedMessages {
public:
    RecordedMessages()
    {
        recorder_.onMessage = [this](const QString& text) { texts << text; };
        recorder_.onException = [this](const QString& text) { texts << QStringLiteral("error: ") + text; };
        SetMessageRecorder(&recorder_);
    }
    ~RecordedMessages() { SetMessageRecorder(nullptr); }
    RecordedMessages(const RecordedMessages&) = delete;
    RecordedMessages& operator=(const RecordedMessages&) = delete;

    QStringList texts;

private:
    MessageRecorder recorder_;
};
