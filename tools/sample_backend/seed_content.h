#pragma once

// The lessons, news, achievements and schools the sample serves, as one JSON text.
extern const char* const kSeedContent;
