// A click on a cell, done as the person would do it on the handheld.
#include "pelorn/face.h"
#include "platform/host/shell.h"

namespace pelorn {

bool Perform(host::Handheld& device, const Hit& hit) {
    switch (hit.kind) {
        case Hit::Kind::kNone:
            return false;
        case Hit::Kind::kTray:
            return device.shell().TapTray(hit.window, hit.id, hit.x, hit.y);
        case Hit::Kind::kMenuItem:
            return device.shell().ChooseMenuItem(hit.id);
        case Hit::Kind::kBesideMenu:
            return device.shell().DismissMenu();
        case Hit::Kind::kOk: {
            const host::Modal* top = device.windows().TopModal();
            if (!top || top->kind == host::Modal::Kind::kMenu) return false;
            return device.windows().AcknowledgeTopModal();
        }
    }
    return false;
}

}  // namespace pelorn
