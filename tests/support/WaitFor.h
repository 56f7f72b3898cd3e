// Waiting on the Qt event loop: the UI thread serves its events (deliveries, queued requests,
// timers) while a test waits for what they bring.
#pragma once

#include <chrono>
#include <functional>

namespace fesko::test {

// Serves events until `condition` holds or `timeout` has passed; returns `condition()`.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Serves events for `time`.
void PumpFor(std::chrono::milliseconds time);

}  // namespace fesko::test
