// The engine behind `handheld play` and `handheld simulate`: a fresh temporary handheld in the
// scenario's starting state, and the person and programs around it acting out steps of the
// script language. What a run prints is its caller's business; the engine only runs it.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "handheld/play/script.h"
#include "platform/host/handheld.h"

namespace handheld {

// Where the steps come from: a script's lines, or a generator that looks at the device first.
class StepSource {
public:
    virtual ~StepSource() = default;
    // The next step, or null at the end of the scenario. It may change at the next call.
    virtual const Step* Next() = 0;
};

class ScriptSteps final : public StepSource {
public:
    explicit ScriptSteps(std::vector<Step> steps) : steps_(std::move(steps)) {}
    const Step* Next() override { return next_ < steps_.size() ? &steps_[next_++] : nullptr; }

private:
    std::vector<Step> steps_;
    std::size_t next_ = 0;
};

// Told what happens between the device's turns; every call comes with the device idle.
class PlayWatcher {
public:
    virtual ~PlayWatcher() = default;
    // The innermost loop has nothing to do and asks for the next step.
    virtual void Idle() = 0;
    // A step starts or has been carried out; steps nest when one waits in a modal loop that
    // asks for more.
    virtual void StepStarts(const Step& step) = 0;
    virtual void StepEnds(const Step& step) = 0;
};

// The bytes a `com1 send` or `com1 log` step gives the receiver (a log without its # lines, from
// its offset on); relative file names start at `folder`. Throws ScriptError.
std::string Com1Bytes(const Step& step, const std::string& folder);

// A new temporary device on the virtual clock, on battery, pin 38 low and not driven, and a
// receiver that says only what com1 steps give it. Removed with its folder when destroyed.
class ScenarioDevice {
public:
    ScenarioDevice();  // throws std::exception when the device cannot be made
    ~ScenarioDevice();
    ScenarioDevice(const ScenarioDevice&) = delete;
    ScenarioDevice& operator=(const ScenarioDevice&) = delete;
    host::Handheld& device() { return *device_; }
    // Removes the device's files while the device still runs, for a process that ends without
    // unwinding it.
    void Abandon();

private:
    std::string temp_;
    host::Handheld* device_ = nullptr;
};

// The scripted user: whichever message loop is innermost and idle asks it for the next step.
class Player final : public host::User {
public:
    // `folder` is where relative file names in steps start; `out` gets what reg query prints.
    Player(host::Handheld& device, StepSource& steps, std::string folder, std::ostream& out);
    ~Player() override;

    void SetWatcher(PlayWatcher* watcher);
    // Runs the device until the steps end; a step that cannot be carried out ends it early.
    // Throws host::Deadlock when the device can do nothing more.
    void Run();

    bool ended() const;
    const std::optional<ScriptError>& error() const;
    // The system's window while its process runs; null otherwise.
    HWND system() const;
    bool running() const;
    // InitInstance has not returned yet.
    bool starting() const;
    // Ends the run at the next step, as the end of the steps would.
    void Stop();
    // What the window answered the last send step that has returned (0 when it was no window).
    LRESULT answer() const;

    // Serial output waits for COM1: to be opened: give the player every finished trace entry.
    void PortOpened(const host::TraceEntry& e);

    bool Act() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace handheld
