// Visibility of the module's exported classes. The linker's version script
// (res/exports.map) then narrows the export table to the published members.
#pragma once

#define RUZADA_CLASS __attribute__((visibility("default")))
