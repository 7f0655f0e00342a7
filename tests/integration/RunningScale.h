#pragma once
// A simulated scale answering on its own pty until it is unplugged. Rate 0
// streams as fast as the program acknowledges.

#include <atomic>
#include <string>
#include <thread>

#include "simulator/PseudoTerminal.h"
#include "simulator/ScaleSimulator.h"

namespace tarvex::test {

class RunningScale {
public:
    explicit RunningScale(const std::string& script = "good:1.234", double rate = 50)
        : sim(pty.Fd(), {rate, sim::ParseScript(script), true}),
          thread([this] { sim.Run(quit); }) {}
    ~RunningScale() { Unplug(); }
    void Unplug() {
        quit = true;
        if (thread.joinable()) thread.join();
        pty.Unplug();
    }
    sim::CPseudoTerminal pty;
    sim::CScaleSimulator sim;
    std::atomic<bool> quit{false};
    std::thread thread;
};

}  // namespace tarvex::test
