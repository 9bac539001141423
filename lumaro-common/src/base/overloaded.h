// Builds one visitor for std::visit from several lambdas.
#pragma once

namespace lumaro {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace lumaro
