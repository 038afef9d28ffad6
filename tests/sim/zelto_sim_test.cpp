// The simulator program over a real pseudo-terminal.

#define ZELTO_SIM_PATH ZELTO_SIM_PROGRAM
#include "board_model.h"
#include "posix_serial.h"
#include "program/pacing.h"
#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using zelto::sim::hex;
using zelto::sim::Pacing;
using Millis = std::chrono::milliseconds;
using zelto::sim::SimProcess;

// The board's end of the pseudo-terminal, opened as a program that talks to the board opens it:
// through the library's serial component.
class Device : public zelto::PosixSerial {
  public:
    explicit Device(const std::string& path) : PosixSerial(path) { setPortOpen(true); }

    // Up to n bytes, waiting at most wait in all.
    std::string receive(std::size_t n, std::chrono::milliseconds wait = 5s) {
        std::string got;
        const auto deadline = Clock::now() + wait;
        while (got.size() < n && Clock::now() < deadline)
            got += input(std::chrono::ceil<zelto::Millis>(deadline - Clock::now()));
        return got;
    }
};

// Skips logged lines up to the first that contains text; returns that line.
std::string lineWith(SimProcess& sim, const std::string& text) {
    while (auto line = sim.nextLine(5000ms))
        if (line->find(text) != std::string::npos)
            return *line;
    return "(not found: " + text + ")";
}

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
    Device board(link);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.device(), target);

    board.setOutput("\x01\x32");
    EXPECT_EQ(hex(board.receive(3)), "33 03 FF");
    EXPECT_EQ(lineWith(sim, "a2d"), "32          a2d pin 1 -> 03 FF");
    board.setOutput("\x30");
    const std::string reply = board.receive(2);
    ASSERT_EQ(reply.size(), 2u);
    // 75 F, drifting by 3 F, at 1023 counts per 500 F.
    const int count =
        static_cast<unsigned char>(reply[0]) * 256 + static_cast<unsigned char>(reply[1]);
    EXPECT_GE(count, 147);
    EXPECT_LE(count, 160);

    EXPECT_EQ(sim.stop(SIGTERM), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is left behind";
    // A hang-up ends it as cleanly.
    SimProcess hungUp({"--link", link});
    EXPECT_EQ(hungUp.stop(SIGHUP), 0);
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is left behind a hang-up";
    rmdir(dir.c_str());
}

TEST(ZeltoSimProgram, ControlLinesChangeTheBoardAndClearToSend) {
    const std::string dir = tempDir();
    const std::string cts = dir + "/cts";
    SimProcess sim({"--cts-file", cts});
    Device board(sim.device());
    EXPECT_EQ(fileContent(cts), "1");

    sim.control("analog 0 512");
    sim.control("input 3 1");
    board.setOutput("\x30\x27\x21");
    EXPECT_EQ(hex(board.receive(4)), "02 00 31 30");
    // A temperature far beyond the converter's range reads as its top.
    sim.control("temperature 1e308");
    board.setOutput("\x30");
    EXPECT_EQ(hex(board.receive(2)), "03 FF");

    sim.control("cts low");
    EXPECT_EQ(fileContent(cts), "0");
    sim.control("cts high");
    EXPECT_EQ(fileContent(cts), "1");

    sim.control("silent on");
    board.setOutput("\x01");
    EXPECT_EQ(lineWith(sim, "ok"), "01          ok -> 33 [silent]");
    EXPECT_EQ(board.receive(1, 100ms), "");

    EXPECT_EQ(sim.stop(SIGINT), 0);
    EXPECT_EQ(fileContent(cts), "0");
    unlink(cts.c_str());
    rmdir(dir.c_str());
}

TEST(ZeltoSimProgram, DelayAndPaceHoldTheAnswersBack) {
    SimProcess delayed({"--delay", "80"});
    Device slow(delayed.device());
    auto start = Clock::now();
    slow.setOutput("\x01");
    EXPECT_EQ(hex(slow.receive(1)), "33");
    EXPECT_GE(Clock::now() - start, 75ms);

    SimProcess paced({"--pace"});
    Device timed(paced.device());
    start = Clock::now();
    timed.setOutput("\x01\x30\x30\x30\x30\x30\x30\x30\x30\x30\x30");
    EXPECT_EQ(timed.receive(21).size(), 21u);
    // The last of 21 bytes leaves 20 byte times after the first.
    EXPECT_GE(Clock::now() - start, 20 * 173us);
}

// Started through a pipe of which only the device line is read, as a script starts it: the log
// fills the pipe, and the board answers on all the same; what could not be written is counted.
TEST(ZeltoSimProgram, ALogNobodyReadsNeverHoldsUpTheBoard) {
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char program[] = ZELTO_SIM_PROGRAM;
    char* argv[] = {program, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    FILE* log = ::fdopen(out[0], "r");
    char line[4096] = {};
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    Device board(std::string(line, std::strcspn(line, "\n")));

    // About 30 bytes a line: 4,000 lines are more than a pipe holds.
    for (int n = 0; n < 4000; ++n) {
        board.setOutput("\x01");
        ASSERT_EQ(hex(board.receive(1)), "33") << "after " << n << " commands";
    }
    std::string logged;
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    for (ssize_t got; (got = ::read(out[0], line, sizeof line)) > 0;)
        logged.append(line, static_cast<size_t>(got));
    board.setOutput("\x30");
    EXPECT_EQ(board.receive(2).size(), 2u);
    ::fcntl(out[0], F_SETFL, 0);
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    unsigned dropped = 0;
    EXPECT_EQ(std::sscanf(line, "# %u lines dropped", &dropped), 1) << line;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n') + dropped, 4000);
    ASSERT_NE(std::fgets(line, sizeof line, log), nullptr);
    EXPECT_STREQ(line, "30          a2d pin 0 -> 00 00\n");
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::fclose(log);
}

// A client that sends without reading (a program that opens the device without flushing it, and
// leaves): the answers it does not read are bounded, as a line overruns, and the next client gets
// only its own.
TEST(ZeltoSimProgram, AnswersNobodyReadsAreBoundedAndNotInherited) {
    SimProcess sim({"--analog", "0=512"}, true, SimProcess::Output::File);
    const auto flood = [&](Millis during) {
        const int fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        const std::string oks(4096, '\x01');
        size_t sent = 0;
        for (const auto until = Clock::now() + during; Clock::now() < until;) {
            const ssize_t n = ::write(fd, oks.data(), oks.size());
            if (n > 0)
                sent += static_cast<size_t>(n);
            else
                std::this_thread::sleep_for(1ms);
        }
        ::close(fd);
        return sent;
    };
    const auto reply = [&](const std::string& command, size_t n) {
        const int fd = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, command.data(), command.size()), 1);
        std::string got;
        for (const auto until = Clock::now() + 2s; got.size() < n && Clock::now() < until;) {
            pollfd p{fd, POLLIN, 0};
            char c = 0;
            if (::poll(&p, 1, 100) > 0 && ::read(fd, &c, 1) == 1)
                got += c;
        }
        ::close(fd);
        return hex(got);
    };

    // Answers held back by a delay wait in the board's own line: beyond its room they are dropped.
    sim.control("delay 600000");
    const size_t sent = flood(500ms);
    EXPECT_GT(sent, 10'000u);
    size_t dropped = 0;
    while (dropped + Pacing::OutLimit < sent) {
        const auto note = sim.nextNote("answer bytes dropped");
        ASSERT_TRUE(note) << dropped << " of " << sent;
        dropped += std::stoul(note->substr(2));
    }
    EXPECT_EQ(dropped + Pacing::OutLimit, sent);
    sim.control("delay 0");
    EXPECT_EQ(reply("\x30", 2), "02 00") << "the answers held for the client that left";

    // Answers that reached the device and were never read.
    EXPECT_GT(flood(500ms), 10'000u);
    sim.control("state");
    EXPECT_EQ(reply("\x30", 2), "02 00") << "the answers the device held for the client that left";
}

TEST(ZeltoSimProgram, LogToAFileOrNowhere) {
    const std::string dir = tempDir();
    const std::string file = dir + "/log";
    for (const std::string& to : {file, std::string("none")}) {
        SimProcess sim({"--log", to});
        Device board(sim.device());
        board.setOutput("\x01");
        EXPECT_EQ(hex(board.receive(1)), "33");
        EXPECT_TRUE(sim.quiet(100ms)) << "logged on standard output";
        sim.stop(SIGTERM);
    }
    EXPECT_EQ(fileContent(file), "01          ok -> 33\n");
    unlink(file.c_str());
    rmdir(dir.c_str());
}

TEST(ZeltoSimProgram, HelpAndBadOptions) {
    SimProcess help({"--help"}, false);
    EXPECT_EQ(help.device(), "Usage: zelto-sim [options]");
    EXPECT_EQ(help.stop(0), 0);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--analog", "9=1"}, {"--pace=2"}, {"--silent=0"}}) {
        SimProcess bad(options, false);
        EXPECT_EQ(bad.stop(0), 2) << options[0];
    }
    // Clear-to-send cannot be written to a folder: the program ends and leaves nothing beside it.
    const std::string dir = tempDir();
    SimProcess folder({"--cts-file", dir}, false);
    EXPECT_EQ(folder.stop(0), 1);
    struct stat st {};
    EXPECT_NE(stat((dir + ".tmp").c_str(), &st), 0) << "left " << dir << ".tmp";
    rmdir(dir.c_str());
}

} // namespace
