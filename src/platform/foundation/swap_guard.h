#pragma once

#include <optional>
#include <string>

// Why another user could rename or replace what `directory` holds, and so swap a folder we checked
// in it for a link to somewhere else between our check and our use: it, or a directory above it,
// belongs to someone other than this user and root, or may be written by its group or everyone
// without the sticky bit. Links on the way are resolved first; `resolved`, when given, gets the
// path they lead to, the one to use from then on. Parts not made yet are skipped, so check again
// once they are. One line that says what to do; nothing when only this user and root can.
std::optional<std::string> whyOthersMaySwapIn(const std::string& directory, std::string* resolved = nullptr);
