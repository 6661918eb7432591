#include "textio/units.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/capture.hpp"
#include "tests/support/case_names.hpp"
#include "tests/support/temp_files.hpp"
#include "textio/failure.hpp"

namespace {

using textio::failure_kind;

using unit_failure = textio::io_failure;

using support::failure_of;
using support::file_bytes;

class UnitsTest : public ::testing::Test {
protected:
    void TearDown() override {
        textio::close_all_units();
        for (const std::string& path : created) ::unlink(path.c_str());
    }
    std::string file(const std::string& stem, const std::string& bytes) {
        created.push_back(support::write_temp_file(stem, bytes));
        return created.back();
    }
    std::string fresh(const std::string& stem) {
        created.push_back(support::scratch_path(stem));
        return created.back();
    }

    textio::in_unit in;
    textio::out_unit out;
    std::vector<std::string> created;
};

std::vector<std::string> raw_records(textio::in_unit& u) {
    std::vector<std::string> records;
    std::string_view record;
    while (textio::next_raw_record(u, record)) records.emplace_back(record);
    return records;
}

std::string read_one(textio::in_unit& u) {
    std::string record;
    EXPECT_TRUE(textio::read_record(u, record));
    return record;
}

// Lines "record 1", "record 2", ... padded to different lengths so that records straddle
// the buffer's refills at varying places.
std::string numbered_lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "record " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), '.') + "\n";
    }
    return text;
}

std::string numbered_line(int i) {
    return "record " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), '.');
}

// ---------------------------------------------------------------------------------------
// Raw records and cleaning

TEST_F(UnitsTest, RawRecordsDropOnlyTheLineFeed) {
    textio::open_input(in, 12, file("raw", "a\nb\r\n\nlast"));
    EXPECT_EQ(raw_records(in), (std::vector<std::string>{"a", "b\r", "", "last"}));
    EXPECT_EQ(in.line, 4);
}

TEST_F(UnitsTest, EmptyFileHasNoRecord) {
    textio::open_input(in, 12, file("empty", ""));
    std::string_view record;
    EXPECT_FALSE(textio::next_raw_record(in, record));
    EXPECT_EQ(in.line, 0);
}

TEST_F(UnitsTest, EndOfFileLeavesLineCount) {
    textio::open_input(in, 12, file("two", "x\ny\n"));
    EXPECT_EQ(raw_records(in).size(), 2u);
    std::string_view record;
    EXPECT_FALSE(textio::next_raw_record(in, record));
    EXPECT_EQ(in.line, 2);
}

struct clean_case {
    const char* raw;
    const char* cleaned;
};

class CleanRecordTest : public ::testing::TestWithParam<clean_case> {};

TEST_P(CleanRecordTest, DropsCarriageReturnsAndExpandsTabs) {
    std::string record = "previous content";
    textio::clean_record(GetParam().raw, record);
    EXPECT_EQ(record, GetParam().cleaned);
}

INSTANTIATE_TEST_SUITE_P(Records, CleanRecordTest,
                         ::testing::Values(clean_case{"plain text", "plain text"}, clean_case{"", ""},
                                           clean_case{"abc\r", "abc"}, clean_case{"a\rb\r\rc", "abc"},
                                           clean_case{"\tx", "        x"}, clean_case{"abcde\tx", "abcde   x"},
                                           clean_case{"abcdefgh\tx", "abcdefgh        x"},
                                           clean_case{"a\r\tb", "a       b"}, clean_case{"\t\t", "                "},
                                           clean_case{"1234567\t8", "1234567 8"}),
                         support::named_by<&clean_case::raw>());

TEST_F(UnitsTest, CrLfFileReadsLikeLfFile) {
    textio::open_input(in, 12, file("crlf", "first line\r\nsecond\tcol\r\nlast\r"));
    EXPECT_EQ(read_one(in), "first line");
    EXPECT_EQ(read_one(in), "second  col");
    EXPECT_EQ(read_one(in), "last");
    std::string record;
    EXPECT_FALSE(textio::read_record(in, record));
}

TEST_F(UnitsTest, LongRecordIsReadWholeWithoutGrowingTheBuffer) {
    const std::string long_line(1000000, 'x');
    textio::open_input(in, 12, file("long", "head\n" + long_line + "\ntail\n"));
    const std::size_t capacity_before = in.capacity;
    EXPECT_EQ(read_one(in), "head");
    EXPECT_EQ(read_one(in), long_line);
    EXPECT_EQ(read_one(in), "tail");
    EXPECT_EQ(in.line, 3);
    EXPECT_EQ(in.capacity, capacity_before);
}

// A line longer than the kept length gives its start; the rest is passed over, and the
// records after it, the line count and the offsets are as for short lines.
TEST_F(UnitsTest, LineBeyondTheKeptLengthGivesItsStart) {
    std::string long_line(textio::max_record_bytes + 3000000, 'y');
    long_line.replace(0, 7, "1 2 3 4");
    textio::open_input(in, 12, file("longer", "head\n" + long_line + "\ntail\n"));
    const std::size_t capacity_before = in.capacity;
    EXPECT_EQ(read_one(in), "head");
    EXPECT_EQ(read_one(in), long_line.substr(0, textio::max_record_bytes));
    EXPECT_EQ(textio::input_offset(in), static_cast<std::int64_t>(5 + long_line.size() + 1));
    EXPECT_EQ(read_one(in), "tail");
    EXPECT_EQ(in.line, 3);
    EXPECT_EQ(in.capacity, capacity_before);
    std::string record;
    EXPECT_FALSE(textio::read_record(in, record));
}

TEST_F(UnitsTest, LongLastLineWithoutLineFeedIsARecord) {
    const std::string long_line(textio::max_record_bytes + 10, 'z');
    textio::open_input(in, 12, file("longlast", "head\n" + long_line));
    EXPECT_EQ(read_one(in), "head");
    EXPECT_EQ(read_one(in), long_line.substr(0, textio::max_record_bytes));
    std::string record;
    EXPECT_FALSE(textio::read_record(in, record));
    EXPECT_EQ(in.line, 2);
}

TEST_F(UnitsTest, ManyRecordsAcrossRefills) {
    const int count = 60000;  // about a megabyte: several refills of the buffer
    textio::open_input(in, 12, file("many", numbered_lines(count)), textio::input_access::buffered);
    for (int i = 1; i <= count; ++i) {
        ASSERT_EQ(read_one(in), numbered_line(i));
        ASSERT_EQ(in.line, i);
    }
    std::string record;
    EXPECT_FALSE(textio::read_record(in, record));
    EXPECT_GT(in.buffer_offset, 0);
}

// ---------------------------------------------------------------------------------------
// Views and copies

// A view set at any record start, across every refill of a buffer the unit would need,
// reads the records from there as the unit read them, and leaves the unit where it was.
TEST_F(UnitsTest, ViewsReadFromAnyRecordStartAsTheUnitDid) {
    const int count = 60000;
    textio::open_input(in, 13, file("views", numbered_lines(count)));
    ASSERT_TRUE(in.mapped);
    std::vector<std::int64_t> starts;
    for (int i = 1; i <= count; ++i) {
        starts.push_back(textio::input_offset(in));
        read_one(in);
    }
    const std::int64_t end = textio::input_offset(in);
    textio::in_unit view;
    std::string_view record;
    for (int i = 1; i <= count; i += 997) {
        textio::view_mapping(in, view, starts[static_cast<std::size_t>(i - 1)], i);
        for (int k = i; k < std::min(i + 3, count + 1); ++k) {
            ASSERT_TRUE(textio::next_raw_record(view, record));
            ASSERT_EQ(record, numbered_line(k));
            ASSERT_EQ(view.line, k);
        }
    }
    EXPECT_EQ(textio::input_offset(in), end);
}

// What cannot be mapped (here a pipe) is copied whole from the reading position on into a
// file of its own, and mapped: the same bytes, the line count going on.
TEST_F(UnitsTest, RestOfAPipeIsCopiedAndMapped) {
    const std::string text = "h1\nh2\n" + numbered_lines(60000) + "last without line feed";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fds[1]);
    });
    textio::open_input(in, 13, "/dev/fd/" + std::to_string(fds[0]));
    ::close(fds[0]);
    EXPECT_FALSE(in.mapped);
    EXPECT_EQ(read_one(in), "h1");
    EXPECT_EQ(read_one(in), "h2");
    textio::spool_rest_of_input(in);
    textio::await_input(in, SIZE_MAX);
    writer.join();
    ASSERT_TRUE(in.at_end);
    ASSERT_TRUE(in.mapped);
    EXPECT_EQ(in.line, 2);
    EXPECT_EQ(std::string_view(in.buffer, in.end), std::string_view(text).substr(6));
    EXPECT_EQ(read_one(in), numbered_line(1));
    EXPECT_EQ(in.line, 3);
}

TEST_F(UnitsTest, MissingInputFileIsAnOpenFailure) {
    const std::string path = fresh("absent.txt");
    const std::optional<unit_failure> f = failure_of([&] { textio::open_input(in, 12, path); });
    ASSERT_TRUE(f.has_value()) << "open of a missing file succeeded";
    EXPECT_EQ(f->kind, failure_kind::system);
    EXPECT_EQ(f->operation, "OPEN");
    EXPECT_EQ(f->unit, 12);
    EXPECT_EQ(f->error_number, ENOENT);
    EXPECT_EQ(f->file_name, path);
}

TEST_F(UnitsTest, TrailingBlanksAreNotPartOfTheName) {
    const std::string path = file("blanks", "content\n");
    textio::open_input(in, 12, path + "        ");
    EXPECT_EQ(read_one(in), "content");
    EXPECT_EQ(in.name, path);
}

TEST_F(UnitsTest, UnreadableInputIsAReadFailure) {
    textio::open_input(in, 13, ::testing::TempDir());  // a directory opens but cannot be read
    std::string record;
    const std::optional<unit_failure> f = failure_of([&] { textio::read_record(in, record); });
    ASSERT_TRUE(f.has_value()) << "reading a directory succeeded";
    EXPECT_EQ(f->kind, failure_kind::system);
    EXPECT_EQ(f->operation, "READ");
    EXPECT_EQ(f->unit, 13);
    EXPECT_EQ(f->error_number, EISDIR);
    EXPECT_EQ(f->line, 1);
}

TEST_F(UnitsTest, StandardInputGivesEachLineAsSoonAsItIsTyped) {
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const int saved_input = ::dup(0);
    ASSERT_GE(saved_input, 0);
    ASSERT_EQ(::dup2(pipe_ends[0], 0), 0);
    ::close(pipe_ends[0]);
    textio::in_unit terminal;
    textio::attach_standard_input(terminal);
    EXPECT_EQ(terminal.unit, textio::terminal_unit);
    EXPECT_EQ(terminal.name, "standard input");
    // The writing end stays open: a read that waited for more than one line would hang.
    ASSERT_EQ(::write(pipe_ends[1], "first\n", 6), 6);
    EXPECT_EQ(read_one(terminal), "first");
    ASSERT_EQ(::write(pipe_ends[1], "second\n", 7), 7);
    EXPECT_EQ(read_one(terminal), "second");
    ::close(pipe_ends[1]);
    std::string record;
    EXPECT_FALSE(textio::read_record(terminal, record));
    EXPECT_EQ(terminal.line, 2);
    textio::close_input(terminal);
    ::dup2(saved_input, 0);
    ::close(saved_input);
}

// ---------------------------------------------------------------------------------------
// Output

TEST_F(UnitsTest, OutputHoldsExactlyWhatWasWritten) {
    const std::string path = fresh("new.TSF");
    textio::open_output(out, 14, path);
    textio::write_bytes(out, "first\n");
    textio::write_bytes(out, "");
    textio::write_bytes(out, "second\n");
    textio::close_output(out);
    EXPECT_EQ(file_bytes(path), "first\nsecond\n");
}

TEST_F(UnitsTest, EmptiedFileHoldsOnlyTheNewOutput) {
    const std::string path = file("old.TSF", std::string(5000, 'o') + "\n");
    textio::open_output(out, 14, path);
    textio::empty_output(out);
    textio::write_bytes(out, "new\n");
    textio::close_output(out);
    EXPECT_EQ(file_bytes(path), "new\n");
}

TEST_F(UnitsTest, CutBackDropsPendingBytesAndEverythingPastTheLength) {
    const std::string path = fresh("cut.TSF");
    textio::open_output(out, 14, path);
    textio::write_bytes(out, "whole\n");
    textio::flush_output(out);
    const std::int64_t whole = textio::output_length(out);
    textio::write_bytes(out, "torn");
    textio::flush_output(out);
    textio::write_bytes(out, " row\n");
    textio::write_output_up_to(out, whole);
    textio::cut_output(out, whole);
    textio::close_output(out);
    EXPECT_EQ(file_bytes(path), "whole\n");
}

TEST_F(UnitsTest, SecondLockOnTheSameFileIsRefused) {
    const std::string path = fresh("locked.TSF");
    textio::out_unit second;
    textio::open_output(out, 14, path);
    textio::open_output(second, 14, path);
    EXPECT_TRUE(textio::lock_output(out));
    EXPECT_FALSE(textio::lock_output(second));
    textio::close_output(out);
    EXPECT_TRUE(textio::lock_output(second));
    textio::close_output(second);
}

TEST_F(UnitsTest, FileNeverWrittenKeepsItsContent) {
    const std::string path = file("keep.TSF", "older content\n");
    textio::open_output(out, 14, path);
    textio::close_output(out);
    EXPECT_EQ(file_bytes(path), "older content\n");
}

TEST_F(UnitsTest, OpenOutputCreatesAnEmptyFile) {
    const std::string path = fresh("created.YX");
    textio::open_output(out, 15, path);
    textio::close_output(out);
    std::ifstream check(path, std::ios::binary);
    EXPECT_TRUE(check.good());
    EXPECT_EQ(file_bytes(path), "");
}

TEST_F(UnitsTest, LargeOutputPassesThroughSeveralFlushes) {
    const std::string path = file("large.TSF", "stale bytes that must vanish\n");
    std::string expected;
    textio::open_output(out, 14, path);
    textio::empty_output(out);
    for (int i = 0; i < 30000; ++i) {
        const std::string row = "row " + std::to_string(i) + "\n";
        expected += row;
        textio::write_bytes(out, row);
    }
    textio::close_output(out);
    EXPECT_EQ(file_bytes(path), expected);
}

TEST_F(UnitsTest, CloseAllUnitsWritesPendingOutput) {
    const std::string series = file("all.TSF", "old old old old\n");
    const std::string coordinates = fresh("all.YX");
    const std::string catalogue = file("all.txt", "a\nb\n");
    textio::out_unit second;
    textio::open_output(out, 14, series);
    textio::open_output(second, 15, coordinates);
    textio::empty_output(out);
    textio::open_input(in, 12, catalogue);
    textio::write_bytes(out, "s\n");
    textio::write_bytes(second, "header\n");
    textio::close_all_units();
    EXPECT_EQ(file_bytes(series), "s\n");
    EXPECT_EQ(file_bytes(coordinates), "header\n");
    EXPECT_EQ(out.fd, -1);
    EXPECT_EQ(second.fd, -1);
    EXPECT_EQ(in.fd, -1);
}

TEST_F(UnitsTest, CloseAllUnitsIgnoresAFailingWrite) {
    textio::open_output(out, 14, "/dev/full");
    textio::write_bytes(out, "lost\n");
    textio::close_all_units();
    EXPECT_EQ(out.fd, -1);
}

TEST_F(UnitsTest, WriteToAFullDeviceFailsAtClose) {
    textio::open_output(out, 14, "/dev/full");
    textio::write_bytes(out, "some output\n");
    const std::optional<unit_failure> f = failure_of([&] { textio::close_output(out); });
    ASSERT_TRUE(f.has_value()) << "writing to /dev/full succeeded";
    EXPECT_EQ(f->kind, failure_kind::system);
    EXPECT_EQ(f->operation, "WRITE");
    EXPECT_EQ(f->unit, 14);
    EXPECT_EQ(f->error_number, ENOSPC);
    EXPECT_EQ(f->file_name, "/dev/full");
    EXPECT_EQ(out.fd, -1);
}

TEST_F(UnitsTest, WriteToAFullDeviceFailsAtFlush) {
    textio::open_output(out, 15, "/dev/full");
    textio::write_bytes(out, "x\n");
    const std::optional<unit_failure> f = failure_of([&] { textio::flush_output(out); });
    ASSERT_TRUE(f.has_value()) << "writing to /dev/full succeeded";
    EXPECT_EQ(f->operation, "WRITE");
    EXPECT_EQ(f->unit, 15);
    EXPECT_EQ(f->error_number, ENOSPC);
}

TEST_F(UnitsTest, OutputInAMissingDirectoryIsAnOpenFailure) {
    const std::string path = fresh("no_such_dir") + "/out.TSF";
    const std::optional<unit_failure> f = failure_of([&] { textio::open_output(out, 14, path); });
    ASSERT_TRUE(f.has_value()) << "creating a file in a missing directory succeeded";
    EXPECT_EQ(f->kind, failure_kind::system);
    EXPECT_EQ(f->operation, "OPEN");
    EXPECT_EQ(f->unit, 14);
    EXPECT_EQ(f->error_number, ENOENT);
}

TEST_F(UnitsTest, TerminalPassesBytesOnAtOnce) {
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    textio::out_unit terminal;
    textio::attach_standard_output(terminal);
    EXPECT_EQ(terminal.unit, textio::terminal_unit);
    EXPECT_TRUE(terminal.is_terminal);
    terminal.fd = pipe_ends[1];  // stands in for standard output
    textio::write_bytes(terminal, "  Enter Selection ==> ");
    ::fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
    char seen[64] = {};
    const ssize_t n = ::read(pipe_ends[0], seen, sizeof seen);
    EXPECT_EQ(std::string(seen, n > 0 ? static_cast<std::size_t>(n) : 0), "  Enter Selection ==> ");
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
}

TEST_F(UnitsTest, TerminalWriteFailureNamesTheTerminal) {
    textio::out_unit terminal;
    textio::attach_standard_output(terminal);
    terminal.fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(terminal.fd, 0);
    const std::optional<unit_failure> f = failure_of([&] { textio::write_bytes(terminal, "prompt"); });
    ASSERT_TRUE(f.has_value()) << "writing to /dev/full succeeded";
    EXPECT_EQ(f->operation, "WRITE");
    EXPECT_EQ(f->unit, textio::terminal_unit);
    EXPECT_EQ(f->error_number, ENOSPC);
    ::close(terminal.fd);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// A mapped file reads exactly as the same file read through the buffer

// What a reader sees along a fixed but varied walk through a file: records, and pieces of
// the long ones.
std::vector<std::string> walk(const std::string& path, textio::input_access access) {
    textio::in_unit u;
    textio::open_input(u, 13, path, access);
    std::vector<std::string> seen;
    unsigned state = 12345;
    const auto next_choice = [&state] { return (state = state * 1103515245u + 12345u) >> 16; };
    for (int step = 0; step < 4000; ++step) {
        const unsigned choice = next_choice() % 16;
        std::string_view record;
        if (choice < 9) {
            const bool more = textio::next_raw_record(u, record);
            seen.push_back("record " + std::to_string(more) + " " + std::string(record.substr(0, 200)) + " #" +
                           std::to_string(record.size()));
        } else {
            std::string_view piece;
            const bool more = textio::next_record_piece(u, piece);
            seen.push_back("piece " + std::to_string(more) + " #" + std::to_string(piece.size()));
        }
        seen.push_back("at " + std::to_string(textio::input_offset(u)) + " line " + std::to_string(u.line));
    }
    textio::close_input(u);
    return seen;
}

struct mapped_case {
    const char* name;
    std::string bytes;
};

class MappedReadTest : public UnitsTest, public ::testing::WithParamInterface<mapped_case> {};

TEST_P(MappedReadTest, ReadsAsTheBufferDoes) {
    const std::string path = file("mapped", GetParam().bytes);
    const std::vector<std::string> mapped = walk(path, textio::input_access::mapped_when_possible);
    const std::vector<std::string> buffered = walk(path, textio::input_access::buffered);
    ASSERT_EQ(mapped.size(), buffered.size());
    for (std::size_t i = 0; i < mapped.size(); ++i) ASSERT_EQ(mapped[i], buffered[i]) << "step " << i / 2;
}

std::string short_lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(i * 7919 % 100003) + " 1 1950.042 " + std::to_string(i) + "\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, MappedReadTest,
    ::testing::Values(mapped_case{"short_lines", short_lines(30000)},
                      mapped_case{"last_line_without_line_feed", short_lines(200) + "12 1 1950.125 3.5"},
                      mapped_case{"exactly_one_page", std::string(4095, 'p') + "\n"},
                      mapped_case{"one_page_without_line_feed", std::string(4096, 'q')},
                      mapped_case{"carriage_returns", "a\r\nb\r\n\r\nc\r"},
                      mapped_case{"lines_longer_than_a_window", short_lines(50) + std::string(5'000'000, 'x') + "\n" +
                                                                    short_lines(50) + std::string(9'000'000, 'y') +
                                                                    "\n" + short_lines(50)},
                      mapped_case{"line_longer_than_the_kept_length",
                                  "1 2 3 4 " + std::string(textio::max_record_bytes + 100, 'z') + "\nend\n"}),
    support::named_by_name());

// Records "0 1 1950.042 12.5", "1 1 ...", and so on, at least `bytes` of them.
std::string numbered_records(std::size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i) text += std::to_string(i) + " 1 1950.042 12.5\n";
    return text;
}

// A mapped file cut short by another process while it is read: the records before the cut
// are read as they were, and reading on past it is a read failure, not a crash.
TEST_F(UnitsTest, FileCutShortWhileMappedIsAReadFailure) {
    const std::string text = numbered_records(3u * 1024 * 1024);
    const std::string path = file("cut_short", text);
    textio::open_input(in, 13, path);
    ASSERT_TRUE(in.mapped);
    std::string_view record;
    ASSERT_TRUE(textio::next_raw_record(in, record));
    EXPECT_EQ(record, "0 1 1950.042 12.5");
    ASSERT_EQ(::truncate(path.c_str(), 1024 * 1024), 0);
    long read = 1;
    const std::optional<unit_failure> f = failure_of([&] {
        while (textio::next_raw_record(in, record)) {
            ASSERT_EQ(record, std::to_string(read) + " 1 1950.042 12.5");
            ++read;
        }
    });
    ASSERT_TRUE(f.has_value()) << "the records past the cut were read";
    EXPECT_EQ(f->operation, "READ");
    EXPECT_EQ(f->error_number, EIO);
    EXPECT_EQ(f->line, read + 1);
    EXPECT_GT(read, 1000);
    // The lost page went with its mapping: a file mapped later where it lay reads whole.
    textio::close_input(in);
    for (int again = 0; again < 4; ++again) {
        textio::open_input(in, 13, file("read_whole", text));
        long records = 0;
        ASSERT_FALSE(failure_of([&] {
                         while (textio::next_raw_record(in, record)) ++records;
                     }).has_value());
        EXPECT_EQ(records, static_cast<long>(std::count(text.begin(), text.end(), '\n')));
        textio::close_input(in);
    }
}
