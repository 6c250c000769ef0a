// One table per group of a scene file: each row names a member of a plain state struct and the range a
// file may give it. The same table writes the group and reads it back with every value checked.
// Control threads only, like the rest of the scene files.
#pragma once

#include "common/scene/SceneFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

namespace common {

/// One member of `S` in a scene group: its key, its range (inclusive; bools and texts ignore it) and how
/// to write and read it. Build rows with field<&S::member>(key, lowest, highest).
template <typename S> struct SceneField {
    const char* key;
    double lowest;
    double highest;
    void (*write)(nlohmann::json& group, const SceneField& self, const S& from);
    void (*read)(SceneFields& group, const SceneField& self, S& to);
};

namespace detail {

template <typename T> struct ArrayTraits : std::false_type {};
template <typename T, std::size_t N> struct ArrayTraits<std::array<T, N>> : std::true_type {
    using Element = T;
    static constexpr std::size_t size = N;
};

template <typename M> struct MemberOf;
template <typename S, typename T> struct MemberOf<T S::*> {
    using Owner = S;
    using Type = T;
};

template <auto Member> void writeMember(nlohmann::json& group, const auto& self, const auto& from) {
    using T = typename MemberOf<decltype(Member)>::Type;
    if constexpr (ArrayTraits<T>::value) {
        using E = typename ArrayTraits<T>::Element;
        nlohmann::json list = nlohmann::json::array();
        for (const E& e : from.*Member) {
            if constexpr (std::is_floating_point_v<E>)
                list.push_back(e);
            else
                list.push_back(static_cast<std::int64_t>(e)); // small integer types as numbers
        }
        group[self.key] = std::move(list);
    } else {
        group[self.key] = from.*Member;
    }
}

template <auto Member> void readMember(SceneFields& group, const auto& self, auto& to) {
    using T = typename MemberOf<decltype(Member)>::Type;
    if constexpr (ArrayTraits<T>::value) {
        using E = typename ArrayTraits<T>::Element;
        constexpr std::size_t n = ArrayTraits<T>::size;
        if constexpr (std::is_floating_point_v<E>) {
            std::array<float, n> values{};
            if (group.readFloats(self.key, static_cast<float>(self.lowest), static_cast<float>(self.highest),
                                 values.data(), n))
                for (std::size_t i = 0; i < n; ++i)
                    (to.*Member)[i] = values[i];
        } else {
            std::array<int, n> values{};
            if (group.readInts(self.key, static_cast<int>(self.lowest), static_cast<int>(self.highest),
                               values.data(), n))
                for (std::size_t i = 0; i < n; ++i)
                    (to.*Member)[i] = static_cast<E>(values[i]);
        }
    } else if constexpr (std::is_same_v<T, bool>) {
        group.readBool(self.key, to.*Member);
    } else if constexpr (std::is_floating_point_v<T>) {
        group.readFloat(self.key, static_cast<float>(self.lowest), static_cast<float>(self.highest),
                        to.*Member);
    } else {
        int value = 0;
        if (group.readInt(self.key, static_cast<int>(self.lowest), static_cast<int>(self.highest), value))
            to.*Member = static_cast<T>(value);
    }
}

} // namespace detail

/// A row for the member `Member` (a scalar, a bool or a std::array of numbers, each within the range).
template <auto Member, typename S = typename detail::MemberOf<decltype(Member)>::Owner>
constexpr SceneField<S> field(const char* key, double lowest = 0, double highest = 0) {
    return {key, lowest, highest, &detail::writeMember<Member, SceneField<S>, S>,
            &detail::readMember<Member, SceneField<S>, S>};
}

/// Writes every row of `fields` from `from` into the object `group`.
template <typename S>
void writeFields(nlohmann::json& group, const S& from, std::span<const SceneField<S>> fields) {
    for (const SceneField<S>& f : fields)
        f.write(group, f, from);
}

/// Reads every row; the first failure stays in `group.error()`.
template <typename S> void readFields(SceneFields& group, S& to, std::span<const SceneField<S>> fields) {
    for (const SceneField<S>& f : fields)
        f.read(group, f, to);
}

/// The member `key` of the file as an object of `fields`. On failure `file` holds why.
template <typename S>
void readGroup(SceneFields& file, const char* key, const char* where, S& to,
               std::span<const SceneField<S>> fields) {
    const nlohmann::json* object = file.object(key);
    if (!object)
        return;
    SceneFields group(*object, where);
    readFields(group, to, fields);
    if (!group.ok())
        file.fail(group.error());
}

/// Writes a value that a control table gives, as a whole number or as the float the engine holds.
inline void writeRanged(nlohmann::json& group, const std::string& key, bool whole, double value) {
    if (whole)
        group[key] = static_cast<std::int32_t>(value);
    else
        group[key] = static_cast<float>(value);
}

/// The rows of `fields` as a new JSON object.
template <typename S> nlohmann::json groupToJson(const S& from, std::span<const SceneField<S>> fields) {
    nlohmann::json group = nlohmann::json::object();
    writeFields(group, from, fields);
    return group;
}

} // namespace common
