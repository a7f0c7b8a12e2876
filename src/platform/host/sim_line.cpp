// The simulated receiver's side of a serial line: its bytes arrive on the handheld's clock.
#include <algorithm>

#include "platform/host/serial_line.h"
#include "platform/host/sim_receiver.h"
#include "platform/host/windows.h"

namespace host {
namespace {

class SimLine final : public Line {
public:
    SimLine(std::shared_ptr<SimReceiver> receiver, Clock& clock)
        : receiver_(std::move(receiver)), clock_(clock), cursor_(clock.Now()) {}

    std::size_t Pump(std::string* rx, std::size_t room, Millis* last) override {
        Millis now = clock_.Now();
        receiver_->Sample(now);
        std::size_t before = rx->size();
        Millis at = receiver_->Collect(cursor_, now, room, rx);
        cursor_ = now;  // what did not fit is lost, as in a UART overrun
        if (rx->size() > before) *last = at;
        return rx->size() - before;
    }

    void WaitInput(Millis deadline) override {
        Millis now = clock_.Now();
        if (deadline <= now) return;
        receiver_->Sample(now);
        std::optional<Millis> next = receiver_->NextArrival(cursor_);
        Millis until = next ? std::min(*next, deadline) : deadline;
        if (until == kForever) {
            if (clock_.IsVirtual()) throw Deadlock("a wait without end on a receiver that says nothing");
            until = now + 1000;  // its power may come back meanwhile
        }
        clock_.AdvanceTo(until);
    }

    bool Send(const char* data, std::size_t n, std::size_t* sent, Millis) override {
        receiver_->Receive(std::string_view(data, n), clock_.Now());
        *sent = n;
        return true;
    }

    DWORD Apply(const DCB& d) override { return StandardBaud(d.BaudRate) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER; }
    void SetLine(ModemLine, bool) override {}
    DWORD ModemStatus() override { return 0; }
    DCB Initial() override { return DefaultDcb(9600); }

private:
    std::shared_ptr<SimReceiver> receiver_;
    Clock& clock_;
    Millis cursor_;  // input up to here has been taken
};

}  // namespace

std::unique_ptr<Line> MakeSimLine(std::shared_ptr<SimReceiver> receiver, Clock& clock) {
    return std::make_unique<SimLine>(std::move(receiver), clock);
}

}  // namespace host
