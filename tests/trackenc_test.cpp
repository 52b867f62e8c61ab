// trackenc end to end: the real program in a directory of its own.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run.h"

namespace fs = std::filesystem;
using namespace track_test;

namespace {

const std::string enc = TRACKENC_PATH;
const std::string rising = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";
const std::string old_records(32, '\x5a');  // what talvor.vrd held before a run

std::string rising_bytes()
{
    std::string s;
    for (int i = 0; i < 16; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

TEST(Trackenc, ConvertsValidTracks)
{
    struct valid_case {
        std::string text;
        std::string bytes;
    } const cases[] = {
        {"", ""},
        {" \n\r\n\t", ""},
        {rising, rising_bytes()},
        {rising + rising + rising, rising_bytes() + rising_bytes() + rising_bytes()},
        {"0 1 2 3 4 5 6 7\r\n8 9 10 11 12 13 14 015\r\n", rising_bytes()},
    };
    for (const valid_case &c : cases) {
        scratch s;
        write_file(s / "piste1.txt", c.text);
        write_file(s / "talvor.vrd", old_records);  // replaced, even by nothing
        outcome o = run(enc, s.dir, {.args = {"ignored", "--help"}});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out + o.err, "");
        EXPECT_EQ(read_file(s / "talvor.vrd"), c.bytes) << c.text;
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

TEST(Trackenc, CreatesTheRecordFileWithTheUmask)
{
    scratch s;
    write_file(s / "piste1.txt", rising);
    outcome o = run(enc, s.dir, {.umask = 027});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(fs::status(s / "talvor.vrd").permissions(), fs::perms(0640));
}

TEST(Trackenc, KeepsModeAndSymbolicLink)
{
    scratch s;
    write_file(s / "piste1.txt", rising);
    fs::create_directory(s / "data");
    write_file(s / "data/real.vrd", old_records);
    fs::permissions(s / "data/real.vrd", fs::perms(0604));
    fs::create_symlink("data/real.vrd", s / "talvor.vrd");
    outcome o = run(enc, s.dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::is_symlink(s / "talvor.vrd"));
    EXPECT_EQ(read_file(s / "data/real.vrd"), rising_bytes());
    EXPECT_EQ(fs::status(s / "data/real.vrd").permissions(), fs::perms(0604));
    EXPECT_EQ(listing(s / "data"), std::vector<std::string>{"real.vrd"});
}

TEST(Trackenc, WritesDevicesInPlace)
{
    scratch s;
    write_file(s / "piste1.txt", rising);
    fs::create_symlink("/dev/null", s / "talvor.vrd");
    outcome o = run(enc, s.dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

class TrackencFails : public testing::TestWithParam<failure_case> {};

// Every failure: status 1, one line, the old record file intact, and no
// temporary file left. Each case runs with and without an old record file.
TEST_P(TrackencFails, LeavesTheRecordFileAsItWas)
{
    for (bool had_records : {true, false}) {
        scratch s;
        GetParam().setup(s);
        if (had_records && !fs::exists(fs::symlink_status(s / "talvor.vrd")))
            write_file(s / "talvor.vrd", old_records);
        auto before_listing = listing(s.dir);
        std::string before = fs::is_regular_file(s / "talvor.vrd") ? read_file(s / "talvor.vrd") : "";
        outcome o = run(enc, s.dir, {.file_size_limit = GetParam().file_size_limit});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "trackenc: " + GetParam().message + "\n");
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(listing(s.dir), before_listing);
        if (fs::is_regular_file(s / "talvor.vrd")) {
            EXPECT_EQ(read_file(s / "talvor.vrd"), before);
        }
    }
}

auto track_text(const std::string &text)
{
    return [text](const scratch &s) { write_file(s / "piste1.txt", text); };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrackencFails,
    testing::Values(
        failure_case{"missing_input", [](const scratch &) {}, "cannot open piste1.txt: No such file or directory"},
        failure_case{"input_is_a_directory", [](const scratch &s) { fs::create_directory(s / "piste1.txt"); },
                     "cannot read piste1.txt: Is a directory"},
        failure_case{"letter", track_text(rising + "1 2 b"), "piste1.txt:2:5: expected a number, found 'b'"},
        failure_case{"out_of_range", track_text(rising + rising + "\n 256"),
                     "piste1.txt:4:2: 256 is out of range 0..255"},
        failure_case{"negative", track_text(rising + "-1 "), "piste1.txt:2:1: -1 is out of range 0..255"},
        failure_case{"incomplete", track_text(rising + "1 2 3\n\n"),
                     "piste1.txt:2: incomplete record: 3 of 16 numbers"},
        failure_case{"file_size_limit",
                     [](const scratch &s) {
                         std::string big;
                         for (int i = 0; i < 40000; ++i)
                             big += rising;
                         write_file(s / "piste1.txt", big);
                     },
                     "cannot write talvor.vrd: File too large", 100000},
        failure_case{"output_is_a_directory",
                     [](const scratch &s) {
                         track_text(rising)(s);
                         fs::create_directory(s / "talvor.vrd");
                     },
                     "cannot write talvor.vrd: Is a directory"},
        failure_case{"output_directory_missing",
                     [](const scratch &s) {
                         track_text(rising)(s);
                         fs::create_symlink("nowhere/talvor.vrd", s / "talvor.vrd");
                     },
                     "cannot write talvor.vrd: No such file or directory"}),
    [](const auto &c) { return std::string(c.param.name); });

TEST(Trackenc, SignalRemovesTheTemporaryFile)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        scratch s;
        write_file(s / "talvor.vrd", old_records);
        ASSERT_EQ(mkfifo((s / "piste1.txt").c_str(), 0600), 0);
        started p = start(enc, s.dir);
        int fifo = open((s / "piste1.txt").c_str(), O_WRONLY);  // waits for trackenc to open it
        ASSERT_GE(fifo, 0);
        ASSERT_EQ(write(fifo, rising.data(), rising.size()), static_cast<ssize_t>(rising.size()));
        // The temporary file is made once the input is open; wait for it.
        EXPECT_TRUE(wait_for_entries(s.dir, 3));
        kill(p.pid, sig);
        outcome o = finish(p);
        close(fifo);
        EXPECT_EQ(o.signal, sig);
        EXPECT_EQ(read_file(s / "talvor.vrd"), old_records);
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

}  // namespace
