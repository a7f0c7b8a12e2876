// Fuzzes the endpoint's reading of a connection's datagram: the input is the datagram as another
// process sent it. Only a whole request of this version is taken, a message other processes may
// not send is refused as such, and what is taken is what the bytes say, field for field.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/host/endpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A buffer of exactly the datagram's size, so that a read past it is caught.
    std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(datagram.get(), data, size);
    host::PeerRequest request{};
    DWORD error = host::DecodeRequest(datagram.get(), size, &request);

    host::WireRequest wire{};
    bool whole = size == sizeof wire;
    if (whole) std::memcpy(&wire, data, sizeof wire);
    bool known = whole && wire.magic == host::kWireMagic && wire.version == host::kWireVersion &&
                 (wire.kind == host::kWireSend || wire.kind == host::kWirePost || wire.kind == host::kWireQuery);
    DWORD expected = !known ? ERROR_INVALID_PARAMETER
                     : wire.kind != host::kWireQuery && !host::MayComeFromAnotherProcess(wire.msg) ? ERROR_ACCESS_DENIED
                                                                                                   : ERROR_SUCCESS;
    if (error != expected) {
        std::fprintf(stderr, "datagram of %zu bytes: error %lu, expected %lu\n", size,
                     static_cast<unsigned long>(error), static_cast<unsigned long>(expected));
        std::abort();
    }
    if (error != ERROR_SUCCESS) return 0;
    // Sent again, the request is the same datagram.
    host::WireRequest again{host::kWireMagic,
                            host::kWireVersion,
                            static_cast<std::uint16_t>(request.kind),
                            static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(request.window)),
                            request.msg,
                            static_cast<std::uint64_t>(request.wparam),
                            static_cast<std::int64_t>(request.lparam)};
    if (std::memcmp(&again, data, sizeof again) != 0) {
        std::fprintf(stderr, "the request taken is not the one sent\n");
        std::abort();
    }
    return 0;
}
