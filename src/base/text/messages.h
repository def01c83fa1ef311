// Every sentence and label of the web pages, in Japanese and English.
#pragma once
#include "base/text/message_ids.h"

// The Shift_JIS text of message index (0..158) in the page's language.
const char* Message(int index, int english);
