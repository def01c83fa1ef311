// The page texts as written, in UTF-8; Message() serves them as Shift_JIS.
#pragma once
#include "base/text/message_ids.h"

struct MessageText {
    const char* japanese;
    const char* english;
};

extern const MessageText kMessageTable[kMessageCount];
