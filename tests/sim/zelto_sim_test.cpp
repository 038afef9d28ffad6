// The simulator program over a real pseudo-terminal.

#include "board_model.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using zelto::sim::hex;

enum class Read { Data, End, Timeout };

// Appends what arrives on fd before the deadline.
Read readSome(int fd, std::string& into, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0)
        return Read::Timeout;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0)
        return Read::End;
    into.append(buf, static_cast<std::size_t>(n));
    return Read::Data;
}

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        int in[2];
        int out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        args.insert(args.begin(), ZELTO_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, ZELTO_SIM_PROGRAM, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
    }

    ~SimProcess() {
        if (m_device >= 0)
            close(m_device);
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_stdin);
        close(m_stdout);
    }

    // Skips standard output up to the first line that contains text; returns that line.
    std::string lineWith(const std::string& text) {
        const auto deadline = Clock::now() + 5s;
        for (;;) {
            for (auto nl = m_out.find('\n'); nl != std::string::npos; nl = m_out.find('\n')) {
                std::string l = m_out.substr(0, nl);
                m_out.erase(0, nl + 1);
                if (l.find(text) != std::string::npos)
                    return l;
            }
            if (readSome(m_stdout, m_out, deadline) != Read::Data)
                return "(not found: " + text + ")";
        }
    }

    // Opens the device named on the first line of output (or path, when given).
    std::string openDevice(const std::string& path = {}) {
        const std::string first = lineWith("");
        m_device = open(path.empty() ? first.c_str() : path.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(m_device, 0) << first;
        return first;
    }

    void send(const std::string& bytes) {
        EXPECT_EQ(write(m_device, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::string receive(std::size_t n, std::chrono::milliseconds wait = 5s) {
        std::string got;
        const auto deadline = Clock::now() + wait;
        while (got.size() < n && readSome(m_device, got, deadline) == Read::Data) {
        }
        return got;
    }

    // Sends a control line and waits for its answer.
    void control(const std::string& line) {
        const std::string l = line + "\n";
        EXPECT_EQ(write(m_stdin, l.data(), l.size()), static_cast<ssize_t>(l.size()));
        EXPECT_EQ(lineWith("# " + line), "# " + line);
    }

    // Sends sig and returns the exit status; -1 when the program does not end.
    int stop(int sig) {
        kill(m_pid, sig);
        std::string rest;
        const auto deadline = Clock::now() + 5s;
        Read r = Read::Data;
        while ((r = readSome(m_stdout, rest, deadline)) == Read::Data) {
        }
        int status = 0;
        if (r == Read::Timeout || waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_device = -1;
    std::string m_out;
};

std::string tempDir() {
    char templ[] = "/tmp/zelto-sim-test-XXXXXX";
    const char* dir = mkdtemp(templ);
    EXPECT_NE(dir, nullptr);
    return dir ? dir : "";
}

std::string fileContent(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ZeltoSimProgram, AnswersOverThePtyAndEndsCleanlyOnSigterm) {
    const std::string dir = tempDir();
    const std::string link = dir + "/board";
    SimProcess sim({"--analog", "1=1023", "--temperature", "75", "--link", link});
    const std::string device = sim.openDevice(link);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(device, target);

    sim.send("\x01\x32");
    EXPECT_EQ(hex(sim.receive(3)), "33 03 FF");
    EXPECT_EQ(sim.lineWith("a2d"), "32          a2d pin 1 -> 03 FF");
    sim.send("\x30");
    const std::string reply = sim.receive(2);
    ASSERT_EQ(reply.size(), 2u);
    // 75 F, drifting by 3 F, at 1023 counts per 500 F.
    const int count =
        static_cast<unsigned char>(reply[0]) * 256 + static_cast<unsigned char>(reply[1]);
    EXPECT_GE(count, 147);
    EXPECT_LE(count, 160);

    EXPECT_EQ(sim.stop(SIGTERM), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is left behind";
    rmdir(dir.c_str());
}

TEST(ZeltoSimProgram, ControlLinesChangeTheBoardAndClearToSend) {
    const std::string dir = tempDir();
    const std::string cts = dir + "/cts";
    SimProcess sim({"--cts-file", cts});
    sim.openDevice();
    EXPECT_EQ(fileContent(cts), "1");

    sim.control("analog 0 512");
    sim.control("input 3 1");
    sim.send("\x30\x27\x21");
    EXPECT_EQ(hex(sim.receive(4)), "02 00 31 30");

    sim.control("cts low");
    EXPECT_EQ(fileContent(cts), "0");
    sim.control("cts high");
    EXPECT_EQ(fileContent(cts), "1");

    sim.control("silent on");
    sim.send("\x01");
    EXPECT_EQ(sim.lineWith("ok"), "01          ok -> 33 [silent]");
    EXPECT_EQ(sim.receive(1, 100ms), "");

    EXPECT_EQ(sim.stop(SIGINT), 0);
    EXPECT_EQ(fileContent(cts), "0");
    unlink(cts.c_str());
    rmdir(dir.c_str());
}

TEST(ZeltoSimProgram, StrayBytesPrecedeTheHandshakeAnswerOnly) {
    SimProcess sim({"--stray", "3"});
    sim.openDevice();
    sim.send(std::string("\x00\x01", 2));
    EXPECT_EQ(hex(sim.receive(4)), "FF FF FF 33");
    sim.send("\x01");
    EXPECT_EQ(hex(sim.receive(2, 100ms)), "33");
}

TEST(ZeltoSimProgram, DelayAndPaceHoldTheAnswersBack) {
    SimProcess delayed({"--delay", "80"});
    delayed.openDevice();
    auto start = Clock::now();
    delayed.send("\x01");
    EXPECT_EQ(hex(delayed.receive(1)), "33");
    EXPECT_GE(Clock::now() - start, 75ms);

    SimProcess paced({"--pace"});
    paced.openDevice();
    start = Clock::now();
    paced.send("\x01\x30\x30\x30\x30\x30\x30\x30\x30\x30\x30");
    EXPECT_EQ(paced.receive(21).size(), 21u);
    // The last of 21 bytes leaves 20 byte times after the first.
    EXPECT_GE(Clock::now() - start, 20 * 173us);
}

TEST(ZeltoSimProgram, HelpAndBadOptions) {
    SimProcess help({"--help"});
    EXPECT_EQ(help.lineWith("Usage"), "Usage: zelto-sim [options]");
    EXPECT_EQ(help.stop(0), 0);
    SimProcess bad({"--analog", "9=1"});
    EXPECT_EQ(bad.stop(0), 2);
}

} // namespace
