// The basic settings as name=value pairs for the command line: one table
// gives each field's name, kind and limits, for showing and for changing.
#pragma once
#include "store/basic_settings.h"
#include <string>

enum class FieldKind { number, text, colours };

struct SettingsField {
    const char* name;
    FieldKind kind;
    int BasicSettings::*number; // number fields
    int min, max;
    size_t text_offset; // text fields: offset of the char array in BasicSettings
    size_t max_bytes;   // text fields: longest value in Shift_JIS bytes
};

const SettingsField* find_settings_field(const std::string& name);
const SettingsField* settings_fields_begin();
const SettingsField* settings_fields_end();

char* field_text(BasicSettings& s, const SettingsField& f);
const char* field_text(const BasicSettings& s, const SettingsField& f);

// The value as `settings show` prints it (text fields in UTF-8).
std::string format_settings_field(const BasicSettings& s, const SettingsField& f);

// Parses and checks value (UTF-8) and stores it into s. Returns an empty
// string on success, else the message naming the field.
std::string apply_settings_field(BasicSettings& s, const SettingsField& f,
                                 const std::string& value);

// A port field: its decimal value when it begins with a digit, standard for
// the protocol's own word (any case), else the port of that name in the
// system's services database. -1 for a name nobody knows or a value that is
// no port.
long port_from_text(const std::string& value, const char* word, int standard);

// The administration pages limit the total length of the stored paths and
// names so that the settings stay inside the file's header. Returns an empty
// string or the message.
std::string check_settings_lengths(const BasicSettings& s);
