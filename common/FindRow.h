// Finding a row of a table (controls, buttons) by its name. Pure.
#pragma once

#include <span>
#include <string_view>

namespace common {

/// The first row whose `key` member reads `name`, or null.
template <class Row, class Key>
const Row* findRow(std::span<const Row> rows, Key Row::*key, std::string_view name) {
    for (const Row& row : rows)
        if (std::string_view(row.*key) == name)
            return &row;
    return nullptr;
}

} // namespace common
