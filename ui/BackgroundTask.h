#pragma once

#include <functional>

namespace ui {

// Runs work on a thread of its own while this thread keeps delivering its events (a nested
// event loop that sleeps until the work ends, never spins); returns when the work has ended
// and passes on what it threw. The work must not touch widgets.
void RunBesideEventLoop(const std::function<void()>& work);

} // namespace ui
