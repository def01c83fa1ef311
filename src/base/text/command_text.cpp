#include "base/text/command_text.h"

bool command_text_safe(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}
