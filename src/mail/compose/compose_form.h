// The compose form, in the four places it appears.
#pragma once
#include "page/connection.h"
#include <string>

enum class FormVariant {
    New,          // the compose page
    Reply,        // below a displayed received message
    AddressError, // a post whose recipients failed the check, shown again
    Resend,       // below a message of the sent-mail log
};

void WriteForm(Connection& c, FormVariant variant);
