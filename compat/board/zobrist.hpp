// This header moved to polyglot/key.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "polyglot/key.hpp" instead.
#pragma once

#include "polyglot/key.hpp"
