// The 800-byte settings header of the data file.
#pragma once
#include "store/basic_settings.h"
#include <cstdint>
#include <functional>
#include <string_view>

constexpr int kHeaderSize = 800;
constexpr int kKeyLengthOffset = 794;
constexpr int kHeaderVersion = 151;

struct DataFileKey {
    uint8_t prefix[15];
    int length; // N, 8 to 15
    uint8_t file_key;
};

// Messages for the administrator, UTF-8.
using ReportFn = std::function<void(std::string_view)>;

// Chooses N and the key prefix from the random generator (a new file).
void make_file_key(DataFileKey& key);

// Writes the header for s. Returns 1, or -1 when the settings area would reach
// into the key prefix (too much text) or a string is longer than its length
// byte can carry; then the buffer content is unspecified.
int encode_header(const BasicSettings& s, const DataFileKey& key, uint8_t (&out)[kHeaderSize]);

// Reads a header into s. Fields the header does not carry keep their defaults
// (the caller sets them before). Returns the header version read, 0 when the
// marker is missing, -1 when a server name was corrupt (reported).
int decode_header(const uint8_t (&in)[kHeaderSize], BasicSettings& s, DataFileKey& key,
                  const char* user_folder, const ReportFn& report);
