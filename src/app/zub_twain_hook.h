#pragma once
// The scanner session's message hook for the Qt window: one turn of the
// event loop (waiting briefly for the next event), false once the
// application is closing down.
#include <functional>

std::function<bool()> QtTwainMessageHook();
