// How far a received text is from the one sent.
#pragma once

#include <string>

namespace rz::test::support {

// Edit distance between the two texts over the length of `sent`: a character
// lost, added or wrong counts one.
double CharacterErrorRate(const std::string& sent, const std::string& received);

}  // namespace rz::test::support
