// This header moved to notation/san.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "notation/san.hpp" instead.
#pragma once

#include "notation/san.hpp"
