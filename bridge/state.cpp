#include "bridge/state.h"

namespace tv {

std::atomic<bool>& cancelFlag() {
    static std::atomic<bool> f{false};
    return f;
}

std::atomic<bool>& busyFlag() {
    static std::atomic<bool> f{false};
    return f;
}

namespace {
std::string& scansPathStorage() {
    static std::string p;
    return p;
}
} // namespace

void setScansPath(std::string path) { scansPathStorage() = std::move(path); }
const std::string& scansPath() { return scansPathStorage(); }

} // namespace tv
