// What the message view keeps per connection besides the MIME state.
#pragma once

constexpr int kQuotationTextSize = 128000;

struct ViewProgress {
    int quotationLength; // bytes in Connection::quotationText
    int partFileSlot;    // slot whose file is open in Connection::file, -1 none
};
