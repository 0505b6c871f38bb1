// SPDX-License-Identifier: MIT
// Centring the window on the whole screen, in twips and single precision: each
// half is taken on its own and the difference is kept unrounded, so a window
// or screen of an odd number of twips leaves half a twip in the result.
#pragma once

namespace zorvek::app {

struct TwipsPoint {
    float left;
    float top;
};

inline TwipsPoint centreOnScreen(float screenWidth, float screenHeight, float windowWidth,
                                 float windowHeight) {
    // Vertically first, then horizontally, as the window is placed.
    const float top = screenHeight / 2.0f - windowHeight / 2.0f;
    const float left = screenWidth / 2.0f - windowWidth / 2.0f;
    return {left, top};
}

}  // namespace zorvek::app
