// Trace lines of the window's start-up and shutdown for the diagnostic log.
// The log is written only in builds made with LQ_DIAG_LOG; otherwise every
// call returns at once.
#pragma once

#include <string>

namespace lq::studio {

void Log(const std::string& line);

}  // namespace lq::studio
