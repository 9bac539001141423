// The "state" event every panel fills its provider and model pickers from,
// built from the provider settings and the providers' login states. Pure; the
// caller takes whatever lock guards its copies.
#pragma once

#include <array>

#include "ipc/messages.h"
#include "providers/catalogue.h"
#include "providers/settings.h"

namespace lumaro {

// Providers in catalogue order; per provider its built-in models, then the
// custom ids stored under its id that are not already offered, each labelled
// "<provider label> · <model label>" (a custom id is its own label).
StateEvent build_state_event(const ProviderSettings& settings,
                             const std::array<LoginState, kProviderCount>& logins);

}  // namespace lumaro
