#pragma once

#include <optional>
#include <string>

// What keeps the program from starting, as one line for the user (where the resources were looked
// for and the variable that moves them; a backend address that cannot be used); nothing when it
// can start.
std::optional<std::string> startupProblem();
