#include "run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace track_test {

namespace {

// Output of runs goes beside the scratch directory, never into it, so the
// directory holds only what the program left there.
fs::path capture_path(const fs::path &dir, const char *what)
{
    return fs::path(dir.string() + "." + what);
}

}  // namespace

started start(const std::string &program, const fs::path &dir, const run_options &options)
{
    started s;
    s.out = capture_path(dir, "out");
    s.err = capture_path(dir, "err");
    // An emulator (in a cross build) comes first, then the program.
    std::vector<std::string> words;
    std::istringstream emulator_words(emulator);
    for (std::string word; emulator_words >> word;)
        words.push_back(word);
    const bool emulated = !words.empty();
    // User 65534 may not be able to reach the build folder: it is given the
    // program and the library as descriptors opened beforehand.
    auto reachable = [&](const std::string &path, int &fd) {
        fd = options.as_nobody ? open(path.c_str(), O_RDONLY) : -1;
        return fd >= 0 ? "/proc/self/fd/" + std::to_string(fd) : path;
    };
    int program_fd = -1, library_fd = -1;
    const std::string preload = options.named ? "LD_PRELOAD=" + reachable(no_tmpfile, library_fd) : "";
    if (options.named && emulated)
        words.insert(words.end(), {"-E", preload});
    words.push_back(reachable(program, program_fd));
    words.insert(words.end(), options.args.begin(), options.args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    s.pid = fork();
    if (s.pid == 0) {
        int out = open(s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int gone[2] = {-1, -1};
        if (options.stderr_closed && (pipe(gone) != 0 || close(gone[0]) != 0))
            _exit(127);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(options.stderr_closed ? gone[1] : err, 2) < 0 ||
            chdir(dir.c_str()) != 0)
            _exit(127);
        // A program that spins for ever (a fault planted in it, say) ends by
        // itself, instead of outliving a test that timed out.
        rlimit cpu{};
        cpu.rlim_cur = cpu.rlim_max = 120;
        if (setrlimit(RLIMIT_CPU, &cpu) != 0)
            _exit(127);
        if (options.stack_limit >= 0) {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.stack_limit);
            if (setrlimit(RLIMIT_STACK, &limit) != 0)
                _exit(127);
        }
        if (options.as_nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(127);
        if (options.file_size_limit >= 0) {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.file_size_limit);
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(127);
        }
        if (options.named && !emulated) {
            setenv("LD_PRELOAD", preload.c_str() + std::strlen("LD_PRELOAD="), 1);
            // AddressSanitizer would have its own library loaded first.
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        }
        if (options.ignored_signal != 0)
            signal(options.ignored_signal, SIG_IGN);
        if (options.umask >= 0)
            umask(static_cast<mode_t>(options.umask));
        execvp(argv[0], argv.data());
        _exit(127);
    }
    for (int fd : {program_fd, library_fd})
        if (fd >= 0)
            close(fd);
    return s;
}

outcome finish(const started &s)
{
    outcome o;
    int status = 0;
    while (waitpid(s.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        o.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        o.signal = WTERMSIG(status);
    o.out = read_file(s.out);
    o.err = read_file(s.err);
    fs::remove(s.out);
    fs::remove(s.err);
    return o;
}

outcome run(const std::string &program, const fs::path &dir, const run_options &options)
{
    return finish(start(program, dir, options));
}

scratch::scratch()
{
    std::string pattern = (fs::temp_directory_path() / "track-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch directory");
    dir = pattern;
}

scratch::~scratch()
{
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

std::string read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> listing(const fs::path &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool wait_for_new_file(pid_t pid, const fs::path &dir)
{
    const std::string prefix = dir.string() + "/";
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (int i = 0; i < 1000; ++i) {
        std::error_code ignored;
        for (const auto &fd : fs::directory_iterator(fds, ignored)) {
            const std::string target = fs::read_symlink(fd.path(), ignored).string();
            if (target.rfind(prefix, 0) == 0 && target != prefix + "piste1.txt" && target != prefix + "talvor.vrd")
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace track_test
