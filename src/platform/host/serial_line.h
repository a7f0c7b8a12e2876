// The wire behind a serial port: a terminal through termios, or the simulated receiver. The
// Win32 serial rules (time-outs, events, modem lines) are CommPort's, on top of a Line.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <string>

#include "platform/host/clock.h"
#include "platform/host/seam.h"
#include "platform/host/serial.h"

namespace host {

class SimReceiver;

constexpr Millis kForever = std::numeric_limits<Millis>::max();

class Line {
public:
    virtual ~Line() = default;
    // Moves what has arrived by now into *rx, at most `room` bytes. Returns how many arrived and
    // sets *last to the arrival time of the last of them.
    virtual std::size_t Pump(std::string* rx, std::size_t room, Millis* last) = 0;
    // Blocks until input may have arrived or the handheld's clock reaches `deadline`.
    virtual void WaitInput(Millis deadline) = 0;
    // Sends bytes, giving up at `deadline`; false with errno-style failure only when the line is broken.
    virtual bool Send(const char* data, std::size_t n, std::size_t* sent, Millis deadline) = 0;
    // ERROR_SUCCESS, or why the settings cannot be applied.
    virtual DWORD Apply(const DCB& dcb) = 0;
    virtual void SetLine(ModemLine line, bool on) = 0;
    // MS_*_ON bits; 0 where there are no cable signals.
    virtual DWORD ModemStatus() = 0;
    // What GetCommState reports before anybody set the port.
    virtual DCB Initial() = 0;
};

// What GetCommState reports for a port nobody has set: 8N1 at `baud`, DTR and RTS enabled.
DCB DefaultDcb(DWORD baud);

// Whether a UART runs at `baud` (110 to 921600 baud, the standard rates).
bool StandardBaud(DWORD baud);

// A terminal in raw mode, or null when `path` cannot be opened as one. On the virtual clock a
// wait gives up once the line has been quiet for *grace real milliseconds.
std::unique_ptr<Line> OpenTtyLine(const std::string& path, Clock& clock, const Millis* grace);

// The simulated receiver's side of the wire.
std::unique_ptr<Line> MakeSimLine(std::shared_ptr<SimReceiver> receiver, Clock& clock);

}  // namespace host
