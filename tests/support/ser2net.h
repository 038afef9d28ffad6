#pragma once

// A real ser2net serving a device over RFC 2217 on a free port of 127.0.0.1, with the modem-line
// emulation preloaded so that the device's clear-to-send reaches its clients.

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zelto::test {

class Ser2net {
  public:
    // Where ser2net is installed, or empty.
    static std::string program() {
        for (const char* p : {"/usr/sbin/ser2net", "/usr/bin/ser2net"})
            if (::access(p, X_OK) == 0)
                return p;
        return {};
    }

    // chardelay: ser2net waits a little after each byte from the device for more to send with it.
    // Without telnet it is a raw TCP bridge.
    Ser2net(const std::string& device, const std::string& ctsFile, const std::string& work,
            bool chardelay = true, bool telnet = true)
        : m_config(work + "-ser2net.yaml"), m_port(freePort()), m_telnet(telnet) {
        std::ofstream(m_config) << "%YAML 1.1\n---\nconnection: &board\n"
                                << "    accepter: " << (telnet ? "telnet(rfc2217)," : "")
                                << "tcp,127.0.0.1," << m_port << "\n"
                                << "    connector: serialdev," << device << ",57600n81,local\n"
                                << "    options:\n      kickolduser: false\n"
                                << "      chardelay: " << (chardelay ? "true" : "false") << "\n";
        m_env = {"LD_PRELOAD=" ZELTO_MODEMLINES_LIBRARY, "ZELTO_CTS_FILE=" + ctsFile};
        start();
    }
    ~Ser2net() {
        stop(SIGTERM);
        std::remove(m_config.c_str());
    }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    std::string url() const {
        return (m_telnet ? "rfc2217" : "socket") + std::string("://127.0.0.1:") +
               std::to_string(m_port);
    }
    int port() const { return m_port; }

    void start() {
        std::string path = program();
        std::string d = "-d", c = "-c", n = "-n";
        char* argv[] = {path.data(), d.data(), n.data(), c.data(), m_config.data(), nullptr};
        std::vector<char*> env;
        for (std::string& e : m_env)
            env.push_back(e.data());
        env.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        const int r = ::posix_spawn(&m_pid, path.c_str(), &quiet, nullptr, argv, env.data());
        posix_spawn_file_actions_destroy(&quiet);
        if (r != 0)
            throw std::runtime_error("cannot start ser2net");
        // Listening once a connection is taken; closed at once, as a client that leaves.
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
             std::chrono::steady_clock::now() < until;) {
            if (accepts())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        throw std::runtime_error("ser2net does not listen");
    }

    void stop(int signal) {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, signal);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

  private:
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    bool accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(m_port));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    std::string m_config;
    int m_port;
    bool m_telnet;
    std::vector<std::string> m_env;
    pid_t m_pid = -1;
};

} // namespace zelto::test
