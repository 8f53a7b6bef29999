// dgterm's commands, one per way of running it. Each returns the exit code.
#pragma once

#include "Options.h"
#include "Signals.h"

namespace rz::dgterm {

int RunList(const Options& options);
int RunSession(const Options& options, TerminationSignals& signals);
int RunDemo(const Options& options, TerminationSignals& signals);
int ReceiveFile(const Options& options, TerminationSignals& signals);
int TransmitFile(const Options& options, TerminationSignals& signals);

}  // namespace rz::dgterm
