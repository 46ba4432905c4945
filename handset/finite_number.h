// A number option that must be finite before its range is checked.
#pragma once

#include <cmath>
#include <string>

#include <CLI/CLI.hpp>

namespace brenvik::handset {

// CLI11's ranges compare, and every comparison with nan is false: nan passes them and then
// acts like 0. Refusing non-finite values first also keeps inf's long range text out of the
// error. The help shows `range`'s name, as before.
inline CLI::Validator FiniteNumber(const CLI::Validator& range) {
  return CLI::Validator(
      [range](std::string& input) {
        double value = 0;
        if (!CLI::detail::lexical_cast(input, value) || !std::isfinite(value))
          return "Value " + input + " is not a finite number";
        return range(input);
      },
      range.get_description());
}

}  // namespace brenvik::handset
