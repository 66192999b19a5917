// The built-in test card that a script runs on when no image is given, in
// the runner and on the page alike.
#pragma once

#include "frame.hpp"

namespace pelx04image {

constexpr int testCardWidth = 1920;
constexpr int testCardHeight = 1080;

// Fills `frame` with the 1920 x 1080 card, top to bottom: a hue sweep at full
// saturation; the sweep fading to white (saturation ramp); the sweep fading
// to black (value ramp); a grey ramp in 256 steps; and a bottom strip of
// colour bars, an alpha ramp, a checker of half and zero alpha, and a fully
// transparent patch that still carries colour. False when out of memory.
bool makeTestCard(Frame& frame);

}  // namespace pelx04image
