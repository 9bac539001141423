#include "providers/catalogue.h"

namespace lumaro {
namespace {

constexpr BuiltinModel kClaudeModels[] = {{"", "기본 모델"}, {"opus", "Opus"}, {"sonnet", "Sonnet"}, {"haiku", "Haiku"}};
constexpr BuiltinModel kChatgptModels[] = {{"", "기본 모델"}};
constexpr BuiltinModel kGeminiModels[] = {{"", "기본 모델"}};

constexpr std::string_view kClaudeEfforts[] = {"low", "medium", "high", "xhigh", "max"};

int checked(int index) noexcept { return (index >= 0 && index < kProviderCount) ? index : 0; }

}  // namespace

int provider_index(std::string_view id) noexcept {
  for (int i = 0; i < kProviderCount; ++i) {
    if (kProviders[static_cast<size_t>(i)].id == id) return i;
  }
  return 0;
}

const ProviderInfo& provider_info(int index) noexcept { return kProviders[static_cast<size_t>(checked(index))]; }
std::string_view provider_id(int index) noexcept { return provider_info(index).id; }
std::string_view provider_label(int index) noexcept { return provider_info(index).label; }
std::string_view provider_product_name(int index) noexcept { return provider_info(index).product; }

std::span<const BuiltinModel> builtin_models(int index) noexcept {
  switch (checked(index)) {
    case 1: return kChatgptModels;
    case 2: return kGeminiModels;
    default: return kClaudeModels;
  }
}

ModelAndEffort split_model_effort(std::string_view model) noexcept {
  const size_t at = model.find('@');
  if (at == std::string_view::npos) return {model, {}, false};
  return {model.substr(0, at), model.substr(at + 1), true};
}

bool accepts_effort(int index, std::string_view effort) noexcept {
  switch (checked(index)) {
    case 0:
      for (std::string_view known : kClaudeEfforts) {
        if (effort == known) return true;
      }
      return false;
    case 1:
      if (effort.empty()) return false;
      for (const char c : effort) {
        if (c < 'a' || c > 'z') return false;
      }
      return true;
    default: return false;
  }
}

}  // namespace lumaro
