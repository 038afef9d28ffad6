#pragma once

#include <chrono>
#include <condition_variable>
#include <csignal>
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

namespace zelto::test {

// One line the simulator logged for a command it decoded: "30          a2d pin 0 -> 03 FF".
struct LoggedCommand {
    std::string bytes; // "30"
    std::string text;  // "a2d pin 0"
    std::string reply; // "03 FF"; empty when the board did not answer
};

inline LoggedCommand parseLogLine(const std::string& line) {
    auto trim = [](std::string s) {
        const auto first = s.find_first_not_of(' ');
        if (first == std::string::npos)
            return std::string();
        return s.substr(first, s.find_last_not_of(' ') - first + 1);
    };
    LoggedCommand c;
    c.bytes = trim(line.substr(0, 12));
    std::string rest = line.size() > 12 ? line.substr(12) : "";
    if (const auto arrow = rest.find(" -> "); arrow != std::string::npos) {
        c.reply = trim(rest.substr(arrow + 4));
        if (const auto note = c.reply.find(" ["); note != std::string::npos)
            c.reply = c.reply.substr(0, note);
        rest = rest.substr(0, arrow);
    }
    c.text = trim(rest);
    return c;
}

// The simulator program serving a board on a pseudo-terminal, driven through its standard input
// and read through its standard output, which a thread of its own drains so that the simulator
// never blocks on a full pipe.
class SimProcess {
  public:
    using Millis = std::chrono::milliseconds;

    // Without expectDevice, device() is whatever the program printed first (or empty).
    explicit SimProcess(const std::vector<std::string>& options = {}, bool expectDevice = true) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> args{ZELTO_SIM_PATH};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&m_pid, ZELTO_SIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        if (rc != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start " ZELTO_SIM_PATH);
        }
        m_reader = std::thread([this] { readOutput(); });
        m_device = nextLine(Millis{10000}).value_or("");
        if (expectDevice && m_device.rfind("/dev/", 0) != 0)
            throw std::runtime_error("the simulator printed no device");
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
        m_reader.join();
        ::close(m_stdout);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& device() const { return m_device; }

    // Sends a control command without waiting for it to take effect.
    void send(const std::string& command) {
        const std::string line = command + "\n";
        if (::write(m_stdin, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw std::runtime_error("cannot write to the simulator");
    }

    // Sends a control command and waits until the simulator has carried it out. Commands logged
    // in the meantime stay queued for nextCommand.
    void control(const std::string& command) {
        send(command);
        std::unique_lock lock(m_mutex);
        const bool done = m_changed.wait_for(lock, Millis{5000}, [&] {
            for (const auto& l : m_echoes)
                if (l == "# " + command)
                    return true;
            return false;
        });
        if (!done)
            throw std::runtime_error("the simulator did not take: " + command);
        m_echoes.clear();
    }

    // The next command the board decoded, waiting up to limit for it.
    std::optional<LoggedCommand> nextCommand(Millis limit = Millis{2000}) {
        auto line = nextLine(limit);
        if (!line)
            return std::nullopt;
        return parseLogLine(*line);
    }

    // The byte fields of the next count commands, fewer if they do not come within limit each.
    std::vector<std::string> nextBytes(size_t count, Millis limit = Millis{2000}) {
        std::vector<std::string> got;
        while (got.size() < count) {
            auto c = nextCommand(limit);
            if (!c)
                break;
            got.push_back(c->bytes);
        }
        return got;
    }

    // True when the board decodes nothing within limit.
    bool quiet(Millis limit) {
        std::unique_lock lock(m_mutex);
        return !m_changed.wait_for(lock, limit, [&] { return !m_lines.empty(); });
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

    // The next line of standard output other than an answer to a control command.
    std::optional<std::string> nextLine(Millis limit) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, limit, [&] { return !m_lines.empty() || m_eof; }) ||
            m_lines.empty())
            return std::nullopt;
        std::string line = std::move(m_lines.front());
        m_lines.pop_front();
        return line;
    }

  private:
    void readOutput() {
        std::string partial;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
            if (n <= 0 && !(n < 0 && errno == EINTR))
                break;
            if (n <= 0)
                continue;
            std::lock_guard lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\n') {
                    partial += buffer[i];
                    continue;
                }
                (partial.rfind("# ", 0) == 0 ? m_echoes : m_lines).push_back(partial);
                partial.clear();
            }
            m_changed.notify_all();
        }
        std::lock_guard lock(m_mutex);
        m_eof = true;
        m_changed.notify_all();
    }

    pid_t m_pid = -1;
    int m_status = 0;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_device;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_lines;  // decoded commands (and the device line first)
    std::deque<std::string> m_echoes; // answers to control commands
    bool m_eof = false;
};

} // namespace zelto::test
