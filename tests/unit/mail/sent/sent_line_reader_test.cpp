#include "mail/sent/sent_line_reader.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class SentLineReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnbox-reader-XXXXXX";
        int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path = pattern;
    }
    void TearDown() override { unlink(path.c_str()); }

    std::vector<std::string> Lines(const std::string& bytes, size_t blockSize) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        std::vector<char> block(blockSize);
        SentLineReader r;
        std::vector<std::string> lines;
        if (!sent_reader_open(r, path.c_str(), block.data(), block.size())) return lines;
        SentReaderCloser closeReader{r};
        while (sent_reader_next(r)) lines.emplace_back(r.line, r.length);
        return lines;
    }

    std::string path;
};

TEST_F(SentLineReaderTest, SameLinesThroughEveryBlockSize) {
    const std::string longLine(5000, 'a');
    const std::string bytes =
        "Date: x\r\nSubject: y\r\n\n\r\ntext\n" + longLine + "\n.\nunfinished";
    const std::vector<std::string> expected = {"Date: x",
                                               "Subject: y",
                                               "",
                                               "",
                                               "text",
                                               longLine.substr(0, kSentLineMax),
                                               longLine.substr(kSentLineMax),
                                               "."};
    for (size_t size : {2, 3, 5, 7, 64, 4096, 128000})
        EXPECT_EQ(Lines(bytes, size), expected) << size;
}

TEST_F(SentLineReaderTest, CutNeverSplitsATwoByteCharacter) {
    // A lead byte at the last place of the line moves whole to the next line.
    const std::string bytes = std::string(kSentLineMax - 1, 'a') + "\x93\xfa" + "b\n";
    const std::vector<std::string> expected = {std::string(kSentLineMax - 1, 'a'), "\x93\xfa"
                                                                                   "b"};
    EXPECT_EQ(Lines(bytes, 4096), expected);
}

TEST_F(SentLineReaderTest, NulEndsItsBlock) {
    // Blocks of three bytes: "a\0b", "cd\n", "ef\n"; the "b" after the NUL
    // is not read.
    EXPECT_EQ(Lines(std::string("a\0bcd\nef\n", 9), 4), (std::vector<std::string>{"acd", "ef"}));
}

} // namespace
