// The control messages other programs send the system's window, by the names the tools give
// them, and the window they go to: the one whose handle the system publishes in GPSHDL.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"

namespace tools {

struct ControlMessage {
    const char* name;  // show, hide, reset, close, about
    UINT msg;
    WPARAM wparam;
    const char* summary;  // what the system does with it
};

// show, hide, reset, close and about, in that order.
const std::vector<ControlMessage>& ControlMessages();
// nullptr when the name is none of them.
const ControlMessage* FindControlMessage(std::string_view name);
// "show|hide|reset|close|about"
std::string ControlMessageNames();
// The message as it travels: "0x0401", "WM_CLOSE", "WM_COMMAND 57664".
std::string Spelled(const ControlMessage& message);

// A message another program sent or posted, in words: "sent: reset (0x0403) from pid 4242".
std::string ReceivedWords(const host::PeerRequest& request, pid_t sender);

// What State_Chg held when the system read it (Handheld::ObserveValueReads): how another
// program's request to apply the profile again shows. Nothing for any other value.
std::optional<std::uint32_t> StateChgRead(std::u16string_view name, const BYTE* data, DWORD size);

// GPSHDL as the system published it in its application key: empty when the value is missing or
// no REG_DWORD, else the handle, 0 after a close. Read as another program reads it, and not traced.
std::optional<DWORD> PublishedWindow(host::Handheld& device);
inline HWND WindowOf(DWORD handle) { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(handle)); }

}  // namespace tools
