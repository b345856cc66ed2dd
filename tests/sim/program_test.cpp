// The dazaraz-sim program: start-up line, options, a served exchange, and a
// clean end on SIGTERM.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "slave_port.h"

extern char **environ;

namespace {

using namespace simtest;

// The program with its standard output and standard error on pipes.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), DAZARAZ_SIM_PROGRAM);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, DAZARAZ_SIM_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) throw std::runtime_error("posix_spawn");
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(out_);
        close(err_);
    }

    // The first line of standard output, or "" at its end or after 5 s.
    std::string FirstLine() {
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0 || read(out_, &c, 1) != 1) return "";
            line += c;
        }
        line.pop_back();
        return line;
    }

    // Waits for the end; the exit status, or -1 if it did not exit normally.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int sig) { kill(pid_, sig); }

    std::string Errors() {
        std::string all;
        char buffer[4096];
        ssize_t n;
        while ((n = read(err_, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<std::size_t>(n));
        return all;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
};

std::string TempPath(const char *name) {
    return (std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()))).string();
}

TEST(Program, ServesTheLinkUntilSigterm) {
    const std::string link = TempPath("dazaraz-sim-link");
    const std::string memory = TempPath("dazaraz-sim-memory");
    std::ofstream(memory) << "# test values\n0150 1234\n";
    Program p({"--link", link, "--memory", memory, "--line", "19200,8N1", "--require-cpu-start", "--verbose"});

    std::istringstream words(p.FirstLine());
    std::string slave, printedLink;
    words >> slave >> printedLink;
    EXPECT_EQ(printedLink, link);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), slave);
    {
        SlavePort port(link);
        port.Send(kSetupWord0150);
        EXPECT_EQ(port.Read(10), kNak + "000032" "25\r");
        for (const auto &[request, reply] : {std::pair{kCpuStart, kCpuStartAck}, {kSetupWord0150, kSetupAck},
                                             {kFetchWord0150, kFetchReply1234}}) {
            port.Send(request);
            EXPECT_EQ(port.Read(reply.size()), reply);
        }
    }
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    const std::string trace = p.Errors();
    EXPECT_NE(trace.find("rx <STX>0012C3<CR>"), std::string::npos) << trace;
    EXPECT_NE(trace.find("tx <STX>0000331234F0<CR>"), std::string::npos) << trace;
    EXPECT_NE(trace.find("CPU not started"), std::string::npos) << trace;
    std::filesystem::remove(memory);
}

TEST(Program, PrintsTheSlaveAloneAndEndsOnSigint) {
    Program p({"--line", "0"});
    const std::string slave = p.FirstLine();
    EXPECT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(), 0);
}

TEST(Program, RefusesBadArguments) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"--line", "9600,7Q1"}, 2, "parity"},
        {{"--link"}, 2, "--link needs a value"},
        {{"--bogus"}, 2, "unknown argument '--bogus'"},
        {{"--memory", "/nonexistent/memory"}, 1, "cannot open '/nonexistent/memory'"},
    };
    for (const auto &c : cases) {
        Program p(c.args);
        EXPECT_EQ(p.FirstLine(), "") << c.message;
        EXPECT_EQ(p.Wait(), c.status) << c.message;
        EXPECT_NE(p.Errors().find(c.message), std::string::npos) << c.message;
    }
}

}  // namespace
