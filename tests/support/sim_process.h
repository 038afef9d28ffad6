#pragma once

// The simulator program serving a board on a pseudo-terminal, for the benchmarks and the tests:
// started with options, driven through its standard input, its log read line by line.

#include "sim_log.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zelto::sim {

class SimProcess {
  public:
    using Millis = std::chrono::milliseconds;

    // Where the program's standard output goes: a pipe that a thread of this process drains, so
    // that the program never blocks on a full pipe; or a file, read only when a line is asked
    // for, so that nothing in this process wakes while the program logs (for measurements).
    enum class Output { Pipe, File };

    // Without expectDevice, device() is whatever the program printed first (or empty).
    explicit SimProcess(const std::vector<std::string>& options = {}, bool expectDevice = true,
                        Output output = Output::Pipe, const std::string& program = ZELTO_SIM_PATH)
        : m_output(output) {
        int in[2];
        int out[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        if (output == Output::Pipe) {
            if (::pipe2(out, O_CLOEXEC) != 0)
                throw std::runtime_error("pipe failed");
        } else {
            char name[] = "/tmp/zelto-sim-log-XXXXXX";
            out[1] = ::mkostemp(name, O_CLOEXEC);
            if (out[1] < 0)
                throw std::runtime_error("cannot create the simulator log");
            m_logFile = name;
            out[0] = ::open(name, O_RDONLY | O_CLOEXEC);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
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
        ::close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        if (rc != 0) {
            m_pid = -1;
            ::close(m_stdin);
            cleanup();
            throw std::runtime_error("cannot start " + program);
        }
        if (output == Output::Pipe)
            m_reader = std::thread([this] { readOutput(); });
        m_device = nextLine(Millis{10000}).value_or("");
        if (expectDevice && m_device.rfind("/dev/", 0) != 0) {
            stop(SIGKILL);
            ::close(m_stdin);
            cleanup();
            throw std::runtime_error("the simulator printed no device");
        }
    }

    ~SimProcess() {
        if (m_stdin >= 0)
            ::close(m_stdin);
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            waitForExit(Millis{5000});
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        cleanup();
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& device() const { return m_device; }
    pid_t pid() const { return m_pid; }

    // Sends a control command without waiting for it to take effect.
    void send(const std::string& command) const {
        const std::string line = command + "\n";
        if (::write(m_stdin, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw std::runtime_error("cannot write to the simulator");
    }

    // Sends a control command and waits until the simulator has carried it out. Commands logged
    // in the meantime stay queued for nextCommand.
    void control(const std::string& command) {
        send(command);
        std::unique_lock lock(m_mutex);
        const bool done = waitUntil(lock, Millis{5000}, [&] {
            for (const auto& l : m_echoes)
                if (l == "# " + command)
                    return true;
            return false;
        });
        if (!done)
            throw std::runtime_error("the simulator did not take: " + command);
        m_echoes.clear();
    }

    // The next command the board decoded, waiting up to limit for it. A line that is no
    // command comes whole, as the text.
    std::optional<LogLine> nextCommand(Millis limit = Millis{2000}) {
        auto line = nextLine(limit);
        if (!line)
            return std::nullopt;
        return parseLogLine(*line).value_or(LogLine{{}, *line, {}, {}});
    }

    // The next count commands, fewer if one does not come within limit.
    std::vector<LogLine> nextCommands(size_t count, Millis limit = Millis{2000}) {
        std::vector<LogLine> got;
        while (got.size() < count) {
            auto c = nextCommand(limit);
            if (!c)
                break;
            got.push_back(std::move(*c));
        }
        return got;
    }

    // True when the board decodes nothing within limit.
    bool quiet(Millis limit) {
        std::unique_lock lock(m_mutex);
        return !waitUntil(lock, limit, [&] { return !m_lines.empty(); });
    }

    void kill(int signal) const {
        if (m_pid > 0)
            ::kill(m_pid, signal);
    }

    // Sends signal and returns the exit status, 128 + the signal when one ended it; -1 when the
    // program does not end.
    int stop(int signal) {
        kill(signal);
        if (!waitForExit(Millis{5000}))
            return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
    }

    bool waitForExit(Millis limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_pid > 0) {
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(Millis{1});
        }
        return true;
    }

    // The next of the program's own lines ("# ...") that contains text, waiting up to limit; its
    // own lines before it are passed over.
    std::optional<std::string> nextNote(const std::string& text, Millis limit = Millis{5000}) {
        std::unique_lock lock(m_mutex);
        std::optional<std::string> found;
        waitUntil(lock, limit, [&] {
            while (!found && !m_echoes.empty()) {
                if (m_echoes.front().find(text) != std::string::npos)
                    found = m_echoes.front();
                m_echoes.pop_front();
            }
            return found.has_value();
        });
        return found;
    }

    // The next line of standard output other than an answer to a control command.
    std::optional<std::string> nextLine(Millis limit) {
        std::unique_lock lock(m_mutex);
        if (!waitUntil(lock, limit, [&] { return !m_lines.empty() || m_eof; }) || m_lines.empty())
            return std::nullopt;
        std::string line = std::move(m_lines.front());
        m_lines.pop_front();
        return line;
    }

  private:
    // With a pipe, waits for the reader thread's news; with a file, reads what the program has
    // written every millisecond.
    template <typename Done>
    bool waitUntil(std::unique_lock<std::mutex>& lock, Millis limit, Done done) {
        if (m_output == Output::Pipe)
            return m_changed.wait_for(lock, limit, done);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            readAvailable();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(Millis{1});
        }
    }

    // Splits what was read into lines; the caller holds the lock.
    void take(const char* data, ssize_t size) {
        for (ssize_t i = 0; i < size; ++i) {
            if (data[i] != '\n') {
                m_partial += data[i];
                continue;
            }
            (m_partial.rfind("# ", 0) == 0 ? m_echoes : m_lines).push_back(m_partial);
            m_partial.clear();
        }
    }

    void readAvailable() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_stdout, buffer, sizeof buffer)) > 0)
            take(buffer, n);
    }

    void readOutput() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            std::lock_guard lock(m_mutex);
            take(buffer, n);
            m_changed.notify_all();
        }
        std::lock_guard lock(m_mutex);
        m_eof = true;
        m_changed.notify_all();
    }

    void cleanup() {
        if (m_reader.joinable())
            m_reader.join();
        if (m_stdout >= 0)
            ::close(m_stdout);
        m_stdout = -1;
        if (!m_logFile.empty())
            std::remove(m_logFile.c_str());
        m_logFile.clear();
    }

    Output m_output;
    pid_t m_pid = -1;
    int m_status = 0;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_logFile;
    std::string m_device;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_partial;
    std::deque<std::string> m_lines;  // decoded commands (and the device line first)
    std::deque<std::string> m_echoes; // answers to control commands
    bool m_eof = false;
};

} // namespace zelto::sim
