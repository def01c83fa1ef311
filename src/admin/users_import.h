// Bulk registration from the lines of a CSV file (`tarnbox users import`).
#pragma once
#include "admin/csv_file.h"
#include "store/data_file.h"
#include <functional>
#include <string>
#include <vector>

struct ImportTally {
    int registered = 0;
    int refused = 0;      // lines reported and passed over
    bool stopped = false; // the table filled up or memory ran out
};

// Registers the users of the lines (Shift_JIS, as read by read_csv_file)
// into ds.users, appending under globalLock; the first empty line ends the
// list. A broken line, or one whose quotes do not close (a quoted value ran
// over a line end), is refused. Every refused line and the reason
// registration stopped go to say (UTF-8). Writes nothing to disk: the caller
// rewrites the data file when any user was registered.
ImportTally import_user_lines(DataStore& ds, const CsvText& text,
                              const std::function<void(const std::string&)>& say);
