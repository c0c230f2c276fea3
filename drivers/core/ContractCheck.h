#pragma once

#include <type_traits>

namespace drivercore {

template <typename R, typename... Args> R ResultOf(R (*)(Args...));

// Whether a driver's export, of pointer type Defined, is what the program's contract says:
// the very pointer type the program calls it through, or, for a name the program only looks
// up (its type LookedUpOnly), a function with the same result type.
template <typename Defined, typename Expected, typename LookedUpOnly> constexpr bool Fulfils() {
    if constexpr (std::is_same_v<Expected, LookedUpOnly>)
        return std::is_same_v<decltype(ResultOf(std::declval<Defined>())),
                              decltype(ResultOf(std::declval<LookedUpOnly>()))>;
    else
        return std::is_same_v<Defined, Expected>;
}

} // namespace drivercore
