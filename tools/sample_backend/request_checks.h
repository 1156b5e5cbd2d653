#pragma once

#include <string_view>

// An http URL on the loopback interface (127.0.0.1, [::1] or localhost, any port, no user part and
// no fragment): the only place the fake providers send a browser back to.
bool isLoopbackHttpUrl(std::string_view url);

// Compares secrets without telling by its time where they differ.
bool constantTimeEquals(std::string_view a, std::string_view b);
