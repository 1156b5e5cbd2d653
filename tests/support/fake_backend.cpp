#include "support/fake_backend.h"

// Placeholder until the server lands.
struct FakeBackend::Impl {};
