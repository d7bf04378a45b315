#include "bridge/host_hooks.h"

namespace tv {
namespace {
HostHooks& hooksStorage() {
    static HostHooks h;
    return h;
}
} // namespace

void setHostHooks(HostHooks hooks) { hooksStorage() = std::move(hooks); }
const HostHooks& hostHooks() { return hooksStorage(); }

} // namespace tv
