#pragma once

#include <string>
#include <vector>

#include "Statistics.h"

namespace quillory_bench {

// The table printed at the end of a run: each figure with the target it
// is held to, and whether it meets it.
std::string table(const std::vector<Figure>& figures);

}  // namespace quillory_bench
