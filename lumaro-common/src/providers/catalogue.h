// The three AI providers, always in this order, and the model choices built
// into the system. Indexes are what the rest of the system passes around; ids
// travel in requests, the settings file and the state event.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace lumaro {

inline constexpr int kProviderCount = 3;

struct ProviderInfo {
  std::string_view id;       // "claude", "chatgpt", "gemini"
  std::string_view label;    // shown to the user
  std::string_view product;  // the tool's name in "not installed" messages
};

inline constexpr std::array<ProviderInfo, kProviderCount> kProviders{{
    {"claude", "Claude", "Claude Code (Anthropic)"},
    {"chatgpt", "ChatGPT", "Codex CLI (OpenAI)"},
    {"gemini", "Gemini", "Gemini CLI (Google)"},
}};

struct BuiltinModel {
  std::string_view id;  // empty: the tool's own default, no model option passed
  std::string_view label;
};

// Exact, case-sensitive match of an id; anything else (empty included) is 0.
// No caller ever rejects an unknown provider.
int provider_index(std::string_view id) noexcept;

// Out-of-range indexes read as provider 0.
const ProviderInfo& provider_info(int index) noexcept;
std::string_view provider_id(int index) noexcept;
std::string_view provider_label(int index) noexcept;
std::string_view provider_product_name(int index) noexcept;

// The provider's built-in models in offer order; the first has the empty id.
std::span<const BuiltinModel> builtin_models(int index) noexcept;

// A model string may end in "@" and a reasoning effort. Splits at the first
// "@"; the effort is empty and `has_effort` false when there is none.
struct ModelAndEffort {
  std::string_view model;
  std::string_view effort;
  bool has_effort = false;
};
ModelAndEffort split_model_effort(std::string_view model) noexcept;

// Effort values the provider's tool takes: claude one of low, medium, high,
// xhigh, max; chatgpt any non-empty run of a-z; gemini none.
bool accepts_effort(int index, std::string_view effort) noexcept;

}  // namespace lumaro
