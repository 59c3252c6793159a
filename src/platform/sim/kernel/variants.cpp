// Simulated machine: the variants the machine can take where the sources are silent.
#include "platform/sim/variants.h"
#include "platform/sim/machine.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace sim {
namespace {

struct VariantState {
    std::mutex lock;
    std::map<std::string, std::size_t> choices; // absent: the first answer
    std::map<std::string, std::size_t> effects;
};

VariantState& State() {
    return AreaState<VariantState>([](VariantState& state) {
        state.choices.clear();
        state.effects.clear();
    });
}

const VariantInfo* Find(const std::string& name) {
    for (const auto& variant : Variants()) {
        if (variant.name == name) {
            return &variant;
        }
    }
    return nullptr;
}

} // namespace

const std::vector<VariantInfo>& Variants() {
    static const std::vector<VariantInfo> variants = {
        {"endpoint-unchanged-notice", {"none", "notify"}},
        {"endpoint-levels", {"scalar", "decibel"}},
        {"endpoint-callback-threads", {"per-endpoint", "shared", "reversed"}},
        {"mixer-own-notice", {"all", "others"}},
        {"mixer-unchanged-notice", {"always", "changed"}},
        {"mixer-read-back", {"exact", "rounded"}},
        {"mixer-uniform", {"off", "on"}},
    };
    return variants;
}

bool SetVariant(const std::string& name, const std::string& answer) {
    const VariantInfo* variant = Find(name);
    if (!variant) {
        return false;
    }
    auto found = std::find(variant->answers.begin(), variant->answers.end(), answer);
    if (found == variant->answers.end()) {
        return false;
    }
    auto& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.choices[name] = static_cast<std::size_t>(found - variant->answers.begin());
    return true;
}

std::string VariantAnswer(const std::string& name) {
    const VariantInfo* variant = Find(name);
    if (!variant) {
        ReportFault("no variant " + name);
        return std::string();
    }
    auto& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.choices.find(name);
    return variant->answers[found == state.choices.end() ? 0 : found->second];
}

bool VariantIs(const std::string& name, const std::string& answer) {
    return VariantAnswer(name) == answer;
}

void CountVariantEffect(const std::string& name) {
    auto& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ++state.effects[name];
}

std::size_t VariantEffects(const std::string& name) {
    auto& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.effects.find(name);
    return found == state.effects.end() ? 0 : found->second;
}

} // namespace sim
