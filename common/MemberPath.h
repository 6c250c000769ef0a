// Reaching a member through a path of member pointers (engine → unit → pattern). Pure.
#pragma once

namespace common {

/// The member at the end of `first, rest...`, starting from `object`.
template <class Object, class First, class... Rest> auto& reach(Object& object, First first, Rest... rest) {
    if constexpr (sizeof...(rest) == 0)
        return object.*first;
    else
        return reach(object.*first, rest...);
}

} // namespace common
