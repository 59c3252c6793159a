#include "soak/soak_variants.h"
#include "platform/sim/variants.h"

#include <map>
#include <vector>

namespace soak_variants {
namespace {

struct Tally {
    std::uint64_t seeds = 0;
    std::uint64_t steps = 0;
};

std::map<std::string, std::string> fixed;
std::map<std::string, Tally> tallies; // by "name=answer"
std::vector<std::string> active;      // the variants that matter at this seed's version
std::map<std::string, std::size_t> seen;

// Its own stream (splitmix64), so drawing variants leaves the seed's steps as they were.
std::uint64_t Mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

bool Matters(const std::string& name, int major) {
    bool endpoint = name.rfind("endpoint-", 0) == 0;
    return endpoint == (major > 5);
}

} // namespace

bool Fix(const std::string& list) {
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(',', start);
        std::string item = list.substr(start, end == std::string::npos ? end : end - start);
        std::size_t equals = item.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        std::string name = item.substr(0, equals);
        std::string answer = item.substr(equals + 1);
        // Checked against the machine's list; the machine is reset before each seed.
        if (!sim::SetVariant(name, answer)) {
            return false;
        }
        fixed[name] = answer;
        start = end == std::string::npos ? list.size() : end + 1;
    }
    return true;
}

// A variant of n answers takes each of them once in every block of n seeds from seed 1 on, in an
// order drawn anew per block and version: seeds 1 to 3 meet every answer, and longer runs every
// combination of answers.
std::string Apply(std::uint64_t seed, int major) {
    std::string text;
    active.clear();
    seen.clear();
    std::uint64_t index = 0;
    for (const auto& variant : sim::Variants()) {
        std::uint64_t count = variant.answers.size();
        std::uint64_t block = (seed - 1) / count;
        std::uint64_t offset = Mix(Mix(block * 64 + index++) ^ static_cast<std::uint64_t>(major));
        std::string answer = variant.answers[((seed - 1) % count + offset) % count];
        auto found = fixed.find(variant.name);
        if (found != fixed.end()) {
            answer = found->second;
        } else if (variant.name == "mixer-uniform") {
            answer = variant.answers[0]; // the service cannot hold under it; see QuenvarCheck
        }
        sim::SetVariant(variant.name, answer);
        if (!Matters(variant.name, major)) {
            continue;
        }
        active.push_back(variant.name);
        ++tallies[variant.name + "=" + answer].seeds;
        text += (text.empty() ? "" : ",") + variant.name + "=" + answer;
    }
    return text;
}

void CountStep() {
    for (const auto& name : active) {
        std::size_t effects = sim::VariantEffects(name);
        if (effects != seen[name]) {
            seen[name] = effects;
            ++tallies[name + "=" + sim::VariantAnswer(name)].steps;
        }
    }
}

unsigned VolumeTolerance() {
    return sim::VariantIs("mixer-read-back", "rounded") ? 1 : 0;
}

std::string Summary() {
    std::string text = "variants (seeds/steps changed):";
    for (const auto& variant : sim::Variants()) {
        text += " " + variant.name;
        for (const auto& answer : variant.answers) {
            const Tally& tally = tallies[variant.name + "=" + answer];
            text += (answer == variant.answers[0] ? " " : "|") + answer + " " +
                    std::to_string(tally.seeds) + "/" + std::to_string(tally.steps);
        }
        text += ";";
    }
    text.pop_back();
    return text;
}

} // namespace soak_variants
