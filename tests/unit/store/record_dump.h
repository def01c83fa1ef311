// The stored fields of a user record or of the basic settings, one
// "name=value" line each, the bytes of texts made printable. The store tests
// compare and keep them in goldens; the data-file fuzz target compares what
// it read before and after a write.
#pragma once
#include "../server_golden.h"
#include "store/data_file.h"
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>

namespace store_test {

// clang-format off
#define FIELD(name) f(#name, s.name);
template <class F> void each_field(const SettingsSet& s, F&& f) {
    FIELD(id) FIELD(password) FIELD(name) FIELD(mail_address) FIELD(smtp_name) FIELD(smtp_port)
    FIELD(pop3_name) FIELD(pop3_port) FIELD(signature) FIELD(quotation) FIELD(reserved_a)
    FIELD(reserved_b) FIELD(apop_flag) FIELD(mail_security) FIELD(smtp_auth)
}

template <class F> void each_field(const BasicSettings& s, F&& f) {
    FIELD(http_port) FIELD(browser_registration) FIELD(browser_auth) FIELD(multiple_addresses)
    FIELD(per_user_servers) FIELD(smtp_server) FIELD(smtp_port) FIELD(pop3_server)
    FIELD(pop3_port) FIELD(top_page) FIELD(admin_password) FIELD(background_image)
    FIELD(fixed_quotation) FIELD(log_size_kb) FIELD(log_folder)
}
#undef FIELD
// clang-format on

// Every stored field of a record or of the settings under its dump name.
template <class F> void each_item(const UserRecord& r, F&& f) {
    for (int s = 0; s < kSettingsSets; s++)
        each_field(r.set[s], [&](const char* field, const auto& v) {
            f("set" + std::to_string(s) + "." + field, v);
        });
    f("book", r.address_book);
    for (int i = 0; i < kOptionBytes; i++) f("option" + std::to_string(i), r.options[i]);
}

template <class F> void each_item(const BasicSettings& s, F&& f) {
    each_field(s, f);
    for (int i = 0; i < kOptionWordCount; i++) f("option" + std::to_string(i), s.*kOptionWords[i]);
    for (int i = 0; i < kPageColourCount; i++) f("colour" + std::to_string(i), s.page_colours[i]);
}

// A text is shown up to its end, which must lie inside its array.
struct Dump {
    std::ostringstream out;
    bool terminated = true;
    template <class T> void operator()(const std::string& field, const T& v) {
        if constexpr (std::is_array_v<T>) {
            const size_t n = strnlen(v, sizeof v);
            terminated = terminated && n < sizeof v;
            out << field << "=" << golden::printable(std::string(v, n), 0, n) << "\n";
        } else if constexpr (std::is_same_v<T, std::string>) {
            out << field << "=" << golden::printable(v, 0, v.size()) << "\n";
        } else {
            out << field << "=" << +v << "\n";
        }
    }
};

template <class T> std::string dump(const T& r, bool* terminated = nullptr) {
    Dump d;
    each_item(r, d);
    if (terminated) *terminated = d.terminated;
    return d.out.str();
}

} // namespace store_test
