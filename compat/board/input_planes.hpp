// This header moved to encoding/network_planes.hpp; this forwarding copy is kept for one
// release so that programs including the old path still build. Include
// "encoding/network_planes.hpp" instead.
#pragma once

#include "encoding/network_planes.hpp"
