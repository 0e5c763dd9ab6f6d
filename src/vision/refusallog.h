#pragma once

#include <exception>

namespace vision {

// Logs why a model refused a frame or a template (OpenCV's own error text),
// once per call site: a camera that sends bad frames must not flood the log.
void logRefusal(const char* where, const std::exception& error);

} // namespace vision
