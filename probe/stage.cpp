#include "probe/stage.h"

#include "probe/result.h"

namespace tv {

std::string_view stateWord(State s) {
    // In the order of the enum.
    static constexpr std::string_view kWords[] = {kSkip, kOk,      kNx,    kTimeout,
                                                  kFail, kRefused, kReset, kAlert};
    const auto i = static_cast<size_t>(s);
    return i < std::size(kWords) ? kWords[i] : kFail;
}

} // namespace tv
