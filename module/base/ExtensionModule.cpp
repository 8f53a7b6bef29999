#include "base/ExtensionModule.h"

ExtensionModule g_ExtModule;
