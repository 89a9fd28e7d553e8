// This header moved to polyglot/random.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "polyglot/random.hpp" instead.
#pragma once

#include "polyglot/random.hpp"
