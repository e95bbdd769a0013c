#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "line_record.h"

namespace zentavol {
namespace {

using namespace std::string_literals;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The records that playing this data file puts on the line, one string a record.
std::vector<std::string> records_of(const std::string& data) {
    std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
    std::fwrite(data.data(), 1, data.size(), file.get());
    std::rewind(file.get());
    std::vector<std::string> records;
    LineBuffer buffer{};
    for (;;) {
        const LinePiece piece = read_line_piece(file.get(), buffer);
        EXPECT_FALSE(piece.read_failed);
        if (piece.length == 0) {
            return records;
        }
        const auto record = make_line_record(buffer, piece.length);
        records.emplace_back(record.begin(), record.end());
    }
}

TEST(LineRecord, DataFilesAreCutIntoRecords) {
    const std::string line98(98, 'x');
    const struct {
        const char* name;
        std::string data;
        std::vector<std::string> records;
    } cases[] = {
        {"empty file", "", {}},
        {"CR LF line keeps its CR", "abc\r\n", {"abc\r\n\0"s}},
        {"lines follow one another", "a\nb\n", {"a\n\0"s, "b\n\0"s}},
        {"last line without LF", "a\nxyz", {"a\n\0"s, "xyz\0"s}},
        {"98 bytes then LF is two records", line98 + "\n", {line98 + "\0"s, "\n\0"s}},
        {"97 bytes then LF is one record", line98.substr(1) + "\n", {line98.substr(1) + "\n\0"s}},
        {"long line goes on where it stopped",
         std::string(200, 'y'),
         {std::string(98, 'y') + "\0"s, std::string(98, 'y') + "\0"s, "yyyy\0"s}},
        {"inner zero goes out whole", "ab\0cd\n"s, {"ab\0cd\n\0"s}},
        {"leading zero goes out whole", "\0z\n"s, {"\0z\n\0"s}},
        {"a lone zero byte", "\0"s, {"\0\0"s}},
        {"bare LF", "\n\n", {"\n\0"s, "\n\0"s}},
        {"no byte is translated", "\x1a\xff\r\r\n"s, {"\x1a\xff\r\r\n\0"s}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(records_of(c.data), c.records) << c.name;
    }
}

TEST(LineRecord, ARecordNeverOutgrowsTheLineBuffer) {
    for (const auto& record : records_of(std::string(1000, '\0'))) {
        EXPECT_LE(record.size(), kLineReadLimit);
    }
}

TEST(LineRecord, AReadErrorEndsTheReadAndIsReported) {
    // A stream opened for writing only fails its reads.
    std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
    std::unique_ptr<std::FILE, FileCloser> write_only(
        std::fopen(("/proc/self/fd/" + std::to_string(fileno(file.get()))).c_str(), "w"));
    ASSERT_NE(write_only, nullptr);
    LineBuffer buffer{};
    const LinePiece piece = read_line_piece(write_only.get(), buffer);
    EXPECT_EQ(piece.length, 0u);
    EXPECT_TRUE(piece.read_failed);
}

}  // namespace
}  // namespace zentavol
