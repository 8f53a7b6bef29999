#pragma once

#include "hostlink/queue.h"

namespace rz::hostlink {

// Runs, on the calling thread, every message other threads sent to it, and
// answers each sender.
void HandleSentMessages(Queue& queue);

}  // namespace rz::hostlink
