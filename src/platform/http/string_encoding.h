#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/data.h"

// Text encodings an answer body can be read with.
enum class StringEncoding { UTF8, ISOLatin1 };

// The bytes as UTF-8 text; nothing when they are not valid in `encoding` (Latin-1 always reads).
std::optional<std::string> stringFromData(const Data& data, StringEncoding encoding);

// The encoding an IANA charset name stands for, or nothing for a name we do not read.
std::optional<StringEncoding> encodingFromCharset(std::string_view charset);
