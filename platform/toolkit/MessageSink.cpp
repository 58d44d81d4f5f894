#include "platform/toolkit/MessageSink.h"

namespace {

MessageSink* current = nullptr;

}  // namespace

ScopedMessageSink::ScopedMessageSink(MessageSink& sink) : previous_(current)
{
    current = &sink;
}

ScopedMessageSink::~ScopedMessageSink()
{
    current = previous_;
}

MessageSink* CurrentMessageSink() { return current; }
