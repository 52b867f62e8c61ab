// trackdec end to end, and round trips through both programs.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "run.h"

namespace fs = std::filesystem;
using namespace track_test;

namespace {

const std::string dec = TRACKDEC_PATH;
const std::string enc = TRACKENC_PATH;
const std::string old_text = "hand-edited track, kept on failure\n";
const std::string rising = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";

std::string byte_run(int from, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i)
        s.push_back(static_cast<char>(from + i));
    return s;
}

std::string random_bytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char &c : s)
        c = static_cast<char>(random() & 0xff);
    return s;
}

TEST(Trackdec, DecodesWholeRecords)
{
    const std::string all_255 = "255 255 255 255 255 255 255 255 255 255 255 255 255 255 255 255\n";
    struct decode_case {
        std::string bytes;
        std::string text;
        std::string err;
    } const cases[] = {
        {"", "", ""},
        {byte_run(0, 16), rising, ""},
        {std::string(16, '\xff'), all_255, ""},
        {std::string(16, '\x80'), "128 128 128 128 128 128 128 128 128 128 128 128 128 128 128 128\n", ""},
        {byte_run(0, 16) + "\x01", rising,
         "trackdec: talvor.vrd: ignored 1 trailing byte that does not make a whole record\n"},
        {byte_run(0, 31), rising, "trackdec: talvor.vrd: ignored 15 trailing bytes that do not make a whole record\n"},
        {byte_run(0, 16) + std::string(16, '\xff'), rising + all_255, ""},
    };
    for (const decode_case &c : cases) {
        scratch s;
        write_file(s / "talvor.vrd", c.bytes);
        write_file(s / "piste1.txt", old_text);
        outcome o = run(dec, s.dir, {.args = {"ignored"}});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(read_file(s / "piste1.txt"), c.text);
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

class TrackdecFails : public testing::TestWithParam<failure_case> {};

// Status 255, the message, the track file as it was (or still absent), and
// no temporary file left.
TEST_P(TrackdecFails, LeavesTheTrackFileAsItWas)
{
    for (bool had_text : {true, false}) {
        scratch s;
        GetParam().setup(s);
        if (had_text && !fs::exists(fs::symlink_status(s / "piste1.txt")))
            write_file(s / "piste1.txt", old_text);
        auto before = listing(s.dir);
        outcome o = run(dec, s.dir, {.file_size_limit = GetParam().file_size_limit});
        EXPECT_EQ(o.status, 255);
        EXPECT_EQ(o.err, GetParam().message + "\n");
        EXPECT_EQ(listing(s.dir), before);
        if (had_text && fs::is_regular_file(s / "piste1.txt")) {
            EXPECT_EQ(read_file(s / "piste1.txt"), old_text);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TrackdecFails,
                         testing::Values(failure_case{"missing_records", [](const scratch &) {},
                                                      "Error in opening file: No such file or directory"},
                                         failure_case{"records_are_a_directory",
                                                      [](const scratch &s) { fs::create_directory(s / "talvor.vrd"); },
                                                      "trackdec: cannot read talvor.vrd: Is a directory"},
                                         failure_case{"file_size_limit",
                                                      [](const scratch &s) {
                                                          write_file(s / "talvor.vrd", random_bytes(16 * 10000, 1));
                                                      },
                                                      "trackdec: cannot write piste1.txt: File too large", 100000},
                                         failure_case{"track_is_a_directory",
                                                      [](const scratch &s) {
                                                          write_file(s / "talvor.vrd", byte_run(0, 16));
                                                          fs::create_directory(s / "piste1.txt");
                                                      },
                                                      "trackdec: cannot write piste1.txt: Is a directory"}),
                         [](const auto &c) { return std::string(c.param.name); });

TEST(Trackdec, InterruptLeavesTheTrackFile)
{
    scratch s;
    write_file(s / "piste1.txt", old_text);
    ASSERT_EQ(mkfifo((s / "talvor.vrd").c_str(), 0600), 0);
    started p = start(dec, s.dir);
    int fifo = open((s / "talvor.vrd").c_str(), O_WRONLY);  // a record file that never ends
    ASSERT_GE(fifo, 0);
    std::string records = random_bytes(16 * 100000, 2);
    ASSERT_EQ(write(fifo, records.data(), records.size()), static_cast<ssize_t>(records.size()));
    EXPECT_TRUE(wait_for_entries(s.dir, 3));
    kill(p.pid, SIGINT);
    outcome o = finish(p);
    close(fifo);
    EXPECT_EQ(o.signal, SIGINT);
    EXPECT_EQ(read_file(s / "piste1.txt"), old_text);
    EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
}

TEST(RoundTrip, RecordFilesComeBackByteForByte)
{
    // Sizes around the programs' block sizes, and a partial record lost.
    const std::size_t records[] = {0, 1, 3, 4095, 4096, 4097, 20000, 70001};
    for (std::size_t n : records) {
        scratch s;
        std::string bytes = random_bytes(16 * n, static_cast<unsigned>(n));
        write_file(s / "talvor.vrd", bytes + "\x07\x08\x09");
        ASSERT_EQ(run(dec, s.dir).status, 0);
        ASSERT_EQ(run(enc, s.dir).status, 0);
        EXPECT_EQ(read_file(s / "talvor.vrd"), bytes) << n << " records";
    }
}

TEST(RoundTrip, TrackFilesComeBackCanonical)
{
    struct text_case {
        std::string text;
        std::string canonical;
    } const cases[] = {
        {rising + rising, rising + rising},
        {"0 1 2 3 4 5 6 7\r\n8 9 10 11 12 13 14 15\r\n", rising},
        {"\n\t+0 001 2 3 4 5 6 7 8 9 10 11 12 13 14 0015 -0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15", rising + rising},
    };
    for (const text_case &c : cases) {
        scratch s;
        write_file(s / "piste1.txt", c.text);
        ASSERT_EQ(run(enc, s.dir).status, 0);
        ASSERT_EQ(run(dec, s.dir).status, 0);
        EXPECT_EQ(read_file(s / "piste1.txt"), c.canonical);
    }
}

}  // namespace
