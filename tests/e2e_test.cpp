// Both programs end to end: the real binaries, each run in a directory of
// its own.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "replace.h"
#include "run.h"

namespace fs = std::filesystem;
using namespace track_test;

namespace {

struct program {
    std::string path;
    std::string input;
    std::string output;
    int failure_status;
};

const program enc{TRACKENC_PATH, "piste1.txt", "talvor.vrd", 1};
const program dec{TRACKDEC_PATH, "talvor.vrd", "piste1.txt", 255};
const std::string old_output = "what the output file held before the run\n";
const std::string rising = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";
const std::string all_255 = "255 255 255 255 255 255 255 255 255 255 255 255 255 255 255 255\n";

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

TEST(Programs, ConvertOrAnswerTheirOptions)
{
    // Every successful run: the output replaced, or, for --help and
    // --version, every file as it was. Other arguments are ignored, and so is
    // everything after "--".
    const std::vector<std::string> ignored = {"ignored", "-x", "--", "--help"};
    struct valid_case {
        const program &p;
        std::string input;
        std::string output;
        std::string err;
        std::vector<std::string> args;
        std::string out = "";  // the start of standard output
    } const cases[] = {
        {enc, "", "", "", ignored},  // an existing record file is emptied
        {enc, " \n\r\n\t", "", "", ignored},
        {enc, repeat(rising, 3), repeat(byte_run(0, 16), 3), "", ignored},
        {dec, "", "", "", ignored},
        {dec, byte_run(0, 16) + std::string(16, '\xff'), rising + all_255, "", ignored},
        {dec, std::string(16, '\x80'), "128 128 128 128 128 128 128 128 128 128 128 128 128 128 128 128\n", "",
         ignored},
        {dec, byte_run(0, 17), rising,
         "trackdec: talvor.vrd: ignored 1 trailing byte that does not make a whole record\n", ignored},
        {dec, byte_run(0, 31), rising,
         "trackdec: talvor.vrd: ignored 15 trailing bytes that do not make a whole record\n", ignored},
        {enc, "not a track", old_output, "", {"x", "--help"}, "Usage: trackenc\n"},
        {dec, "", old_output, "", {"-h"}, "Usage: trackdec\n"},
        {enc, "", old_output, "", {"--version"}, "trackenc (trackconv) " TRACK_VERSION "\n"},
        {dec, "", old_output, "", {"--version", "--help"}, "trackdec (trackconv) " TRACK_VERSION "\n"},
    };
    for (const valid_case &c : cases) {
        scratch s;
        write_file(s / c.p.input, c.input);
        write_file(s / c.p.output, old_output);
        outcome o = run(c.p.path, s.dir, {.args = c.args});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(o.out.empty(), c.out.empty());
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(read_file(s / c.p.output), c.output) << c.p.path << " on " << testing::PrintToString(c.input);
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

TEST(Replacement, NewFileGetsTheUmask)
{
    scratch s;
    write_file(s / "piste1.txt", rising);
    EXPECT_EQ(run(enc.path, s.dir, {.umask = 027}).status, 0);
    EXPECT_EQ(fs::status(s / "talvor.vrd").permissions(), fs::perms(0640));
}

TEST(Replacement, KeepsModeAndLongSymbolicLinks)
{
    // Two links whose texts together pass PATH_MAX: each is read relative to
    // its own directory, as the kernel does, never joined into one path.
    scratch s;
    write_file(s / "piste1.txt", rising);
    fs::create_directory(s / "data");
    write_file(s / "data/real.vrd", old_output);
    fs::permissions(s / "data/real.vrd", fs::perms(0604));
    fs::create_symlink(repeat("./", 1750) + "data/real.vrd", s / "link");
    fs::create_symlink(repeat("./", 1750) + "link", s / "talvor.vrd");
    outcome o = run(enc.path, s.dir);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(fs::is_symlink(s / "talvor.vrd"));
    EXPECT_EQ(read_file(s / "data/real.vrd"), byte_run(0, 16));
    EXPECT_EQ(fs::status(s / "data/real.vrd").permissions(), fs::perms(0604));
    EXPECT_EQ(listing(s / "data"), std::vector<std::string>{"real.vrd"});
}

TEST(Replacement, WritesFifosInPlace)
{
    // A FIFO cannot be replaced: the output goes into it. When its reader
    // goes away, the write fails and is reported like any other.
    for (bool reader_stays : {true, false}) {
        scratch s;
        write_file(s / "piste1.txt", repeat(rising, reader_stays ? 1 : 40000));
        ASSERT_EQ(mkfifo((s / "talvor.vrd").c_str(), 0600), 0);
        started p = start(enc.path, s.dir);
        int fifo = open((s / "talvor.vrd").c_str(), O_RDONLY);  // waits for the program to open it
        ASSERT_GE(fifo, 0);
        std::string got;
        char buffer[4096];
        for (ssize_t n; reader_stays && (n = read(fifo, buffer, sizeof buffer)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
        close(fifo);
        outcome o = finish(p);
        EXPECT_EQ(o.status, reader_stays ? 0 : 1);
        EXPECT_EQ(o.err, reader_stays ? "" : "trackenc: cannot write talvor.vrd: Broken pipe\n");
        EXPECT_EQ(got, reader_stays ? byte_run(0, 16) : "");
        EXPECT_TRUE(fs::is_fifo(s / "talvor.vrd"));
    }
}

TEST(Replacement, SyncsTheDirectoryAfterTheRename)
{
    // A success must survive a power loss: the rename reaches the disk
    // before the program ends.
    if (std::string(emulator) != "" || system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs strace on the machine's own processor";
    scratch s;
    write_file(s / "piste1.txt", rising);
    const fs::path log = s.dir.string() + ".strace";
    outcome o = run("/usr/bin/env", s.dir,
                    {.args = {"ASAN_OPTIONS=detect_leaks=0",  // LeakSanitizer cannot run under strace
                              "strace", "-o", log.string(), "-e", "trace=renameat,renameat2,fsync", enc.path}});
    const std::string calls = read_file(log);
    fs::remove(log);
    EXPECT_EQ(o.status, 0) << o.err;
    const std::size_t rename = calls.find("rename");
    ASSERT_NE(rename, std::string::npos) << calls;
    EXPECT_NE(calls.find("fsync(", rename), std::string::npos) << calls;
}

TEST(Replacement, FollowsLinksAsTheKernelWould)
{
    // With fs.protected_symlinks on, a link in a sticky directory writable by
    // all is followed only by its owner, or when the directory's owner owns it.
    struct link_case {
        bool protect;
        mode_t dir_mode;
        uid_t dir_owner, link_owner, follower;
        bool follows;
    } const cases[] = {
        {true, 01777, 0, 1000, 0, false},    // root in /tmp, another user's link
        {true, 01777, 0, 1000, 1000, true},  // the link's owner
        {true, 01777, 1000, 1000, 0, true},  // the directory's owner's link
        {true, 01777, 0, 0, 1000, true},     // root's link
        {true, 00777, 0, 1000, 0, true},     // not sticky
        {true, 01775, 0, 1000, 0, true},     // not writable by all
        {false, 01777, 0, 1000, 0, true},    // protection off
    };
    for (const link_case &c : cases) {
        struct stat dir {
        }, link{};
        dir.st_mode = S_IFDIR | c.dir_mode;
        dir.st_uid = c.dir_owner;
        link.st_mode = S_IFLNK | 0777;
        link.st_uid = c.link_owner;
        EXPECT_EQ(track::may_follow_link(c.protect, dir, link, c.follower), c.follows)
            << std::oct << c.dir_mode << std::dec << " " << c.dir_owner << " " << c.link_owner << " " << c.follower;
    }
}

// A failing run: what to put in the directory, and the one line expected.
struct failure_case {
    const char *name;
    const program *p;
    std::function<void(const scratch &)> setup;
    std::string message;
    long file_size_limit = -1;
    bool as_nobody = false;
};

void PrintTo(const failure_case &c, std::ostream *os)
{
    *os << c.name;
}

class Fails : public testing::TestWithParam<failure_case> {};

// Every failure: the status, one line, the old output file byte for byte (or
// still absent), and no temporary file left. Each case runs with and without
// an old output file.
TEST_P(Fails, LeavesTheOutputAsItWas)
{
    const failure_case &c = GetParam();
    for (bool had_output : {true, false}) {
        scratch s;
        c.setup(s);
        const fs::path output = s / c.p->output;
        if (had_output && !fs::exists(fs::symlink_status(output)))
            write_file(output, old_output);
        const auto before = listing(s.dir);
        const std::string old = fs::is_regular_file(output) ? read_file(output) : "";
        if (c.as_nobody && geteuid() != 0)
            GTEST_SKIP() << "needs root, to run as another user";
        outcome o = run(c.p->path, s.dir, {.file_size_limit = c.file_size_limit, .as_nobody = c.as_nobody});
        EXPECT_EQ(o.status, c.p->failure_status);
        EXPECT_EQ(o.err, c.message + "\n");
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(listing(s.dir), before);
        if (fs::is_regular_file(output)) {
            EXPECT_EQ(read_file(output), old);
        }
    }
}

auto file(const std::string &name, const std::string &bytes)
{
    return [name, bytes](const scratch &s) { write_file(s / name, bytes); };
}

// A directory of the given mode that user 65534 may read, holding the input.
auto shared_directory(fs::perms mode, const std::string &input, const std::string &bytes)
{
    return [=](const scratch &s) {
        fs::permissions(s.dir, mode);
        write_file(s / input, bytes);
    };
}

auto directory(const std::string &name, const std::string &input = {}, const std::string &bytes = {})
{
    return [=](const scratch &s) {
        fs::create_directory(s / name);
        if (!input.empty())
            write_file(s / input, bytes);
    };
}

INSTANTIATE_TEST_SUITE_P(
    Trackenc, Fails,
    testing::Values(failure_case{"missing_input", &enc, [](const scratch &) {},
                                 "trackenc: cannot open piste1.txt: No such file or directory"},
                    failure_case{"input_is_a_directory", &enc, directory("piste1.txt"),
                                 "trackenc: cannot read piste1.txt: Is a directory"},
                    failure_case{"letter", &enc, file("piste1.txt", rising + "1 2 b"),
                                 "trackenc: piste1.txt:2:5: expected a number, found 'b'"},
                    failure_case{"out_of_range", &enc, file("piste1.txt", rising + rising + "\n 256"),
                                 "trackenc: piste1.txt:4:2: 256 is out of range 0..255"},
                    failure_case{"negative", &enc, file("piste1.txt", rising + "-1 "),
                                 "trackenc: piste1.txt:2:1: -1 is out of range 0..255"},
                    failure_case{"incomplete", &enc, file("piste1.txt", rising + "1 2 3\n\n"),
                                 "trackenc: piste1.txt:2: incomplete record: 3 of 16 numbers"},
                    failure_case{"file_size_limit", &enc, file("piste1.txt", repeat(rising, 40000)),
                                 "trackenc: cannot write talvor.vrd: File too large", 100000},
                    failure_case{"output_is_a_directory", &enc, directory("talvor.vrd", "piste1.txt", rising),
                                 "trackenc: cannot write talvor.vrd: Is a directory"},
                    failure_case{"output_directory_missing", &enc,
                                 [](const scratch &s) {
                                     write_file(s / "piste1.txt", rising);
                                     fs::create_symlink("nowhere/talvor.vrd", s / "talvor.vrd");
                                 },
                                 "trackenc: cannot write talvor.vrd: No such file or directory"},
                    failure_case{"output_directory_not_writable", &enc,
                                 [](const scratch &s) {
                                     shared_directory(fs::perms(0755), "piste1.txt", rising)(s);
                                     write_file(s / "talvor.vrd", old_output);
                                     fs::permissions(s / "talvor.vrd", fs::perms(0666));
                                 },
                                 "trackenc: cannot write talvor.vrd: cannot create a file in '.': Permission denied",
                                 -1, true},
                    failure_case{"sticky_directory", &enc,
                                 [](const scratch &s) {
                                     shared_directory(fs::perms(01777), "piste1.txt", rising)(s);
                                     write_file(s / "talvor.vrd", old_output);
                                 },
                                 "trackenc: cannot write talvor.vrd: the old file cannot be replaced: Operation not "
                                 "permitted (in a sticky directory only the file's owner may replace it)",
                                 -1, true}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Trackdec, Fails,
    testing::Values(failure_case{"missing_input", &dec, [](const scratch &) {},
                                 "Error in opening file: No such file or directory"},
                    failure_case{"input_is_a_directory", &dec, directory("talvor.vrd"),
                                 "trackdec: cannot read talvor.vrd: Is a directory"},
                    failure_case{"file_size_limit", &dec, file("talvor.vrd", random_bytes(16 * 10000, 1)),
                                 "trackdec: cannot write piste1.txt: File too large", 100000},
                    failure_case{"output_is_a_directory", &dec, directory("piste1.txt", "talvor.vrd", byte_run(0, 16)),
                                 "trackdec: cannot write piste1.txt: Is a directory"}),
    [](const auto &c) { return std::string(c.param.name); });

TEST(Programs, SignalsLeaveNoTemporaryFile)
{
    // The input is a FIFO that never ends: the run stays in its loop, with
    // its new output file open, until the signal comes; whatever the signal,
    // the old output stays and nothing else is left.
    struct signal_case {
        const program &p;
        int sig;
        std::string data;
    } const cases[] = {{enc, SIGINT, rising},  {enc, SIGTERM, rising},
                       {enc, SIGHUP, rising},  {enc, SIGQUIT, rising},
                       {enc, SIGUSR1, rising}, {enc, SIGALRM, rising},
                       {enc, SIGKILL, rising}, {dec, SIGINT, random_bytes(1 << 20, 2)}};
    for (const signal_case &c : cases) {
        scratch s;
        write_file(s / c.p.output, old_output);
        ASSERT_EQ(mkfifo((s / c.p.input).c_str(), 0600), 0);
        started p = start(c.p.path, s.dir);
        int fifo = open((s / c.p.input).c_str(), O_WRONLY);  // waits for the program to open it
        ASSERT_GE(fifo, 0);
        ASSERT_EQ(write(fifo, c.data.data(), c.data.size()), static_cast<ssize_t>(c.data.size()));
        EXPECT_TRUE(wait_for_new_file(p.pid, s.dir, c.p.input));
        kill(p.pid, c.sig);
        outcome o = finish(p);
        close(fifo);
        EXPECT_EQ(o.signal, c.sig);
        EXPECT_EQ(read_file(s / c.p.output), old_output);
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

TEST(Programs, ClosedStandardErrorChangesNothingElse)
{
    // A message nobody can read: the status is what it would have been, and
    // nothing is left behind.
    struct closed_case {
        const program &p;
        std::string input;
        int status;
        std::string output;
    } const cases[] = {
        {enc, rising + "1 2 x", 1, old_output},
        {dec, byte_run(0, 17), 0, rising},
    };
    for (const closed_case &c : cases) {
        scratch s;
        write_file(s / c.p.input, c.input);
        write_file(s / c.p.output, old_output);
        outcome o = run(c.p.path, s.dir, {.stderr_closed = true});
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(read_file(s / c.p.output), c.output);
        EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"piste1.txt", "talvor.vrd"}));
    }
}

TEST(RoundTrip, RecordFilesComeBackByteForByte)
{
    // Sizes around the programs' block sizes, and a partial record lost.
    const std::size_t records[] = {0, 1, 3, 4095, 4096, 4097, 20000, 70001};
    for (std::size_t n : records) {
        scratch s;
        std::string bytes = random_bytes(16 * n, static_cast<unsigned>(n));
        write_file(s / "talvor.vrd", bytes + "\x07\x08\x09");
        // A small stack is enough: the buffers are not on it.
        ASSERT_EQ(run(dec.path, s.dir, {.stack_limit = 256 * 1024}).status, 0);
        ASSERT_EQ(run(enc.path, s.dir, {.stack_limit = 256 * 1024}).status, 0);
        EXPECT_EQ(read_file(s / "talvor.vrd"), bytes) << n << " records";
    }
}

TEST(RoundTrip, TrackFilesComeBackCanonical)
{
    // The reader's leniency (its tests cover each form) meets the writer's
    // one form.
    scratch s;
    write_file(s / "piste1.txt",
               "\n\t+0 001 2 3 4 5 6 7\r\n8 9 10 11 12 13 14 0015 -0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15");
    ASSERT_EQ(run(enc.path, s.dir).status, 0);
    ASSERT_EQ(run(dec.path, s.dir).status, 0);
    EXPECT_EQ(read_file(s / "piste1.txt"), rising + rising);
}

}  // namespace
