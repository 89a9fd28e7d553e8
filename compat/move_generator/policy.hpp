// This header moved to encoding/policy.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "encoding/policy.hpp" instead.
#pragma once

#include "encoding/policy.hpp"
