// How far a received text is from the one sent.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace rz::test::support {

// Edit distance between the two texts over the length of `sent`: a character
// lost, added or wrong counts one.
double CharacterErrorRate(const std::string& sent, const std::string& received);

// A rate as the tables print it ("12.3 %"), or "n/a" where it was not measured.
std::string Percent(std::optional<double> rate);

// A message of exactly `length` characters: the lines in turn, over and over.
std::string RepeatedLines(std::span<const char* const> lines, size_t length);

}  // namespace rz::test::support
