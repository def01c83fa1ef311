#include "store/user_record.h"

void set_default_options(UserRecord& r) {
    for (auto& b : r.options) b = 0;
    r.options[row_count] = 10;
    r.options[column_count] = 80;
    r.options[header_flag] = 1;
    r.options[reserved_option_7] = 1;
    r.options[upload_no] = 1;
}
