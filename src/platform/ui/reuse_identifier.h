#pragma once

#include <optional>
#include <string>

// The one stored copy of a reuse identifier. A program names its prototypes with a handful of
// identifiers, and a list holds thousands of cells that each carry one: they point at the same
// copy, which lives as long as the program.
const std::optional<std::string>& sharedReuseIdentifier(std::optional<std::string> id);
