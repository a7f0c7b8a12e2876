// Answers about a call, kept by the address of the call site's literal that names it. A few dozen
// call sites ask the same questions many times a second; a small table answers them without
// hashing their names or dividing by a bucket count. Two literals that meet in a slot take turns:
// the one not held is asked again.
#pragma once

#include <array>
#include <cstdint>

namespace tracing {

template <class T>
class LiteralCache {
public:
    // The answer kept for `literal`, or `answer()`'s, kept from now on.
    template <class Answer>
    T Get(const char* literal, Answer&& answer) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(literal));
        Slot& slot = slots_[(address * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
        if (slot.literal != literal) {
            slot.value = answer();
            slot.literal = literal;
        }
        return slot.value;
    }
    // Forgets every answer, for when what they depend on changed.
    void Clear() { slots_.fill(Slot{}); }

private:
    static constexpr int kBits = 7;
    struct Slot {
        const char* literal = nullptr;
        T value{};
    };
    std::array<Slot, std::size_t{1} << kBits> slots_{};
};

}  // namespace tracing
