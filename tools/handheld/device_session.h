// The device a command of the command line acts on, as another program on it would.
#pragma once

namespace host {
class Handheld;
}

namespace handheld {

// The device named by --device or PELORN_DEVICE (or the default one, tools/common/device_choice.h), switched on in this
// process for one command of the command line, which acts on it as another program would; switched off again when this
// goes. Throws host::DeviceError when the folder cannot be used.
class OnDevice {
public:
    OnDevice();
    ~OnDevice();
    OnDevice(const OnDevice&) = delete;
    OnDevice& operator=(const OnDevice&) = delete;

    host::Handheld& device() const { return device_; }

private:
    host::Handheld& device_;
};

}  // namespace handheld
