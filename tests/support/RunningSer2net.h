#pragma once
// Debian's ser2net on loopback in front of a device of the test's own,
// started and stopped by the test: a serial device server as a desk meets it.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/LoopbackPorts.h"
#include "tests/support/TempDir.h"

namespace tarvex::test {

class RunningSer2net {
public:
    RunningSer2net(const std::string& device, bool rfc2217, const std::string& options = {})
        : m_port(FreeLoopbackPort()), m_rfc2217(rfc2217) {
        m_config = m_folder.Write("ser2net.yaml",
                                  "%YAML 1.1\n---\nconnection: &scale\n  accepter: " +
                                      std::string(rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") + "127.0.0.1," +
                                      std::to_string(m_port) + "\n  connector: serialdev," + device +
                                      ",9600n81,local\n" + options)
                       .string();
        Start();
    }
    ~RunningSer2net() { Stop(); }
    RunningSer2net(const RunningSer2net&) = delete;
    RunningSer2net& operator=(const RunningSer2net&) = delete;

    void Start() {
        std::fflush(nullptr);  // nothing buffered is written twice
        m_pid = ::fork();
        if (m_pid < 0) throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            const std::string log = (m_folder.Path() / "ser2net.log").string();
            if (!std::freopen(log.c_str(), "a", stdout) || !std::freopen(log.c_str(), "a", stderr)) std::_Exit(126);
            ::execlp("ser2net", "ser2net", "-n", "-d", "-c", m_config.c_str(), "-P",
                     (m_folder.Path() / "ser2net.pid").c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!Listening(m_port)) {
            if (std::chrono::steady_clock::now() > deadline || ::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                throw std::runtime_error("ser2net did not start: " + Log());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    void Stop() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    int Port() const { return m_port; }
    // The port map entry for it.
    std::string Entry() const {
        return std::string(m_rfc2217 ? "rfc2217://" : "socket://") + "127.0.0.1:" + std::to_string(m_port);
    }
    std::string Log() const { return TempDir::Read(m_folder.Path() / "ser2net.log"); }

private:
    TempDir m_folder;
    int m_port;
    bool m_rfc2217;
    std::string m_config;
    pid_t m_pid = -1;
};

}  // namespace tarvex::test
