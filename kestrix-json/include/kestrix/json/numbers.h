// Text forms of 64-bit floats, both from their shortest round-trip digits.
#pragma once

#include <string>

namespace kestrix::json {

// The report's form: plain decimal for magnitudes in [1e-5, 1e16) with ".0"
// on integral values (0.0, 12.5, -0.0), otherwise digits and exponent
// (1e16, 1.5e-7). The value must be finite.
void append_f64(std::string& out, double value);

// The form decoder messages quote: always plain decimal, never an exponent,
// with ".0" when there is no point (1.5, 10000000000000000.0, NaN, inf).
std::string format_f64_display(double value);

}  // namespace kestrix::json
