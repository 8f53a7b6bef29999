// The attach gate, as the thread side sees it: while a library's entry routine
// runs, new threads are held, as Windows holds threads created in DllMain.
#pragma once

#include <functional>

namespace rz::kernel {

// When the gate is open, answers false and does nothing. When it is closed, keeps
// `release` and answers true; `release` runs, on the thread that opens the gate,
// once every BeginModuleAttach has had its EndModuleAttach.
bool HoldUntilAttachEnds(std::function<void()> release);

}  // namespace rz::kernel
