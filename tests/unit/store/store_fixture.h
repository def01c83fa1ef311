// Shared pieces of the store tests: a DataStore in a fresh temporary home,
// sample users and settings, and the golden data-file images in images/.
#pragma once
#include "server_golden.h"
#include "store/data_file.h"
#include "store/record_dump.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace store_test {

// Sample content in the shapes real users have. Variant picks one of several
// people; Japanese names are Shift_JIS bytes.
std::unique_ptr<UserRecord> sample_user(const std::string& id, int variant = 0);
BasicSettings sample_settings(const std::string& user_folder);
// The record or the settings changes under that name in samples.ref.
std::unique_ptr<UserRecord> sample_record(const std::string& name, const std::string& id);
void apply_sample(BasicSettings& s, const std::string& name);
// Sets the fields that dump lines ("set1.id=x") name.
void set_fields(UserRecord& r, const std::string& lines);
// Address-list text, Shift_JIS names included, cut to n bytes.
std::string book_of_length(size_t n);
// Copies the stored fields (records hold atomics and cannot be copied).
std::unique_ptr<UserRecord> copy_of(const UserRecord& r);
// The lines of dump got that differ from those of dump base.
std::vector<std::string> changes(const std::string& got, const std::string& base);
// Empty when a record or the settings got holds what want holds; otherwise
// where they part.
template <class T> std::string dump_diff(const T& got, const T& want) {
    return golden::compare("dump", dump(want), dump(got));
}

// A golden image from images/, and its k-th piece of n bytes.
std::string image(const std::string& name);
std::string piece(const std::string& bytes, size_t k, size_t n);
// The key an image's header carries in its prefix and length byte.
DataFileKey key_of(const std::string& header);

using Users = std::vector<std::unique_ptr<UserRecord>>;

class DataStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void put_file(const std::string& path, const std::string& bytes);
    // Writes file as the data file and loads it.
    int load(const std::string& file);
    std::vector<UserRecord*> users();
    // The loaded users are want, numbered in file order.
    void expect_users(const Users& want);
    std::string adr_path(const std::string& id) { return ds.user_folder + "/" + id + ".adr"; }

    std::string home;
    DataStore ds;
    std::vector<std::string> messages;
};

} // namespace store_test
