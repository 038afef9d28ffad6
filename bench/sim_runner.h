#pragma once

// The simulator program serving the board on a pseudo-terminal, for the benchmarks. Its log goes
// to a file rather than a pipe, so that no reader thread of this process runs (and costs CPU)
// while a figure is measured.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zelto::bench {

// A private temporary folder, removed with its files.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/zelto-bench-XXXXXX";
        if (::mkdtemp(name) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = name;
    }
    ~TempDir() {
        for (const std::string& f : m_files)
            std::remove(f.c_str());
        ::rmdir(m_path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) {
        m_files.push_back(m_path + "/" + name);
        m_files.push_back(m_path + "/" + name + ".tmp");
        return m_files[m_files.size() - 2];
    }

  private:
    std::string m_path;
    std::vector<std::string> m_files;
};

class SimRunner {
  public:
    SimRunner(const std::string& program, const std::vector<std::string>& options) {
        m_log = m_dir.file("sim.log");
        int in[2];
        if (::pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        const int log = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (log < 0)
            throw std::runtime_error("cannot create the simulator log");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, log, STDOUT_FILENO);
        std::vector<std::string> args{program};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(log);
        m_stdin = in[1];
        if (rc != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start " + program);
        }
        m_device = waitForLine([](const std::string& l) { return l.rfind("/dev/", 0) == 0; });
    }

    ~SimRunner() {
        ::close(m_stdin);
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    const std::string& device() const { return m_device; }

    // Sends a control command without waiting for it.
    void send(const std::string& command) const {
        const std::string line = command + "\n";
        if (::write(m_stdin, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw std::runtime_error("cannot write to the simulator");
    }

    // Sends a control command and waits until the simulator has carried it out.
    void control(const std::string& command) {
        send(command);
        waitForLine([&](const std::string& l) { return l == "# " + command; });
    }

  private:
    template <typename Match> std::string waitForLine(Match match) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::FILE* f = std::fopen(m_log.c_str(), "r");
            if (f != nullptr) {
                std::fseek(f, m_scanned, SEEK_SET);
                char buffer[4096];
                while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
                    std::string line = buffer;
                    if (line.empty() || line.back() != '\n')
                        break; // the rest of the line is still being written
                    m_scanned += static_cast<long>(line.size());
                    line.pop_back();
                    if (match(line)) {
                        std::fclose(f);
                        return line;
                    }
                }
                std::fclose(f);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        throw std::runtime_error("the simulator did not answer in time");
    }

    TempDir m_dir;
    std::string m_log;
    long m_scanned = 0;
    pid_t m_pid = -1;
    int m_stdin = -1;
    std::string m_device;
};

} // namespace zelto::bench
