// The shared WAV helpers, under the names the RTTY and PSK suites use.
#ifndef RTTY_TEST_RTTY_WAV_H
#define RTTY_TEST_RTTY_WAV_H

#include "WavFile.h"

namespace rz::rtty::testing {

using rz::test::support::ReadWav;
using rz::test::support::WriteWav;

}  // namespace rz::rtty::testing

#endif
