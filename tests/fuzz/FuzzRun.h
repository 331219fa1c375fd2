#pragma once
// The seed and the number of cases of a fuzzing run, and the random numbers its cases are made of.
//
// A run is the same every time: the seed is fixed at build time (NIMBAL_FUZZ_DEFAULT_SEED) unless
// NIMBAL_FUZZ_SEED names another, and NIMBAL_FUZZ_COUNT changes the number of cases. Each case draws
// from a generator of its own, made from the seed and the case's number, so a case comes out the
// same whatever ran before it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

struct FuzzRun {
    std::uint32_t seed;
    unsigned count;
};

namespace fuzz_detail {

inline bool numberFromEnvironment(const char* name, unsigned long long& value)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != nullptr && *end == '\0';
}

} // namespace fuzz_detail

// Prints the run's seed and count, and how to repeat it.
inline FuzzRun fuzzRun(const char* what, unsigned defaultCount)
{
    FuzzRun run { NIMBAL_FUZZ_DEFAULT_SEED, defaultCount };
    unsigned long long value = 0;
    if (fuzz_detail::numberFromEnvironment("NIMBAL_FUZZ_SEED", value))
        run.seed = static_cast<std::uint32_t>(value);
    if (fuzz_detail::numberFromEnvironment("NIMBAL_FUZZ_COUNT", value))
        run.count = static_cast<unsigned>(value);
    std::printf("fuzz %s: seed %u, %u cases (repeat with NIMBAL_FUZZ_SEED=%u NIMBAL_FUZZ_COUNT=%u)\n", what, run.seed,
                run.count, run.seed, run.count);
    std::fflush(stdout);
    return run;
}

// splitmix64: small, and the same numbers on every platform and compiler.
class Random {
public:
    Random(std::uint32_t seed, unsigned caseNumber, std::uint32_t stream = 0)
        : state((std::uint64_t(seed) << 32 | caseNumber) ^ (std::uint64_t(stream) * 0x9E3779B97F4A7C15ull))
    {
        next();
    }

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 to n - 1 (0 when n is 0).
    std::uint32_t below(std::uint32_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(next() % n); }
    std::uint32_t between(std::uint32_t low, std::uint32_t high) { return low + below(high - low + 1); }
    bool percent(unsigned chance) { return below(100) < chance; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }

    template <typename T>
    const T& pick(const std::vector<T>& items)
    {
        return items[below(static_cast<std::uint32_t>(items.size()))];
    }

    // Small sizes mostly, now and then a large one: most damage shows at the edges of small fields.
    std::uint32_t size(std::uint32_t usual, std::uint32_t large)
    {
        return percent(90) ? below(usual + 1) : below(large + 1);
    }

private:
    std::uint64_t state;
};

// Bytes as hex, at most `limit` of them, for the message of a failed case.
template <typename Container>
std::string hexDump(const Container& bytes, size_t limit = 512)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    size_t shown = 0;
    for (auto b : bytes) {
        if (shown == limit) {
            text += " ... (" + std::to_string(bytes.size()) + " bytes)";
            break;
        }
        const auto value = static_cast<unsigned char>(b);
        if (shown > 0)
            text += ' ';
        text += digits[value >> 4];
        text += digits[value & 15];
        ++shown;
    }
    return text;
}

// Keeps the case about to run in `file` (in the current folder), replacing the one before: when a
// case takes the program down with it, no assertion reports it, but the file still names it.
inline void noteCase(const char* file, const std::string& description)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << description << '\n';
}
