// Shared pieces of the store tests: a DataStore in a fresh temporary home,
// sample users and settings, and comparisons against the image builder's
// descriptions.
#pragma once
#include "store/data_file.h"
#include "store/image_builder.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace store_test {

// Sample content in the shapes real users have. Variant picks one of several
// people; Japanese names are Shift_JIS bytes.
store_image::SlotDesc sample_user(const std::string& id, int variant = 0);
store_image::HeaderDesc sample_settings();
// Address-list text, Shift_JIS names included, cut to n bytes.
std::string book_of_length(size_t n);

// A new record (records hold atomics and cannot be copied).
std::unique_ptr<UserRecord> record_of(const store_image::SlotDesc& d);
// Empty when r holds what d describes; otherwise the first differences.
std::string record_diff(const UserRecord& r, const store_image::SlotDesc& d);
// What a reader that accepts every item of d must produce.
BasicSettings settings_of(const store_image::HeaderDesc& d, const std::string& user_folder);
std::string settings_diff(const BasicSettings& actual, const BasicSettings& expected);
// Empty when actual equals img on every byte img marks meaningful.
std::string meaningful_diff(const uint8_t* actual, const store_image::Image& img);

class DataStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void put_file(const std::string& path, const store_image::Bytes& bytes);
    store_image::Bytes get_file(const std::string& path);
    // Writes file as the data file and loads it.
    int load(const store_image::Bytes& file);
    // The sample settings with slots built from descs behind them.
    store_image::Bytes file_of(const std::vector<store_image::SlotDesc>& descs,
                               const store_image::Bytes& prefix,
                               const store_image::Bytes& tail = {});
    std::vector<UserRecord*> users();
    // The loaded users are want, numbered in file order.
    void expect_users(const std::vector<store_image::SlotDesc>& want);
    std::string adr_path(const std::string& id) { return ds.user_folder + "/" + id + ".adr"; }

    std::string home;
    DataStore ds;
    std::vector<std::string> messages;
};

} // namespace store_test
