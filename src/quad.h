// quad.h: the full-screen quad that the picture's fragment stage runs over.
#pragma once

#include <qopengl.h>

// Two counter-clockwise triangles in clip space that together cover the viewport.
// clang-format off
inline constexpr GLfloat fullScreenQuad[] = {
    -1.0f, -1.0f,
    1.0f, -1.0f,
    1.0f, 1.0f,
    1.0f, 1.0f,
    -1.0f, 1.0f,
    -1.0f, -1.0f,
};
// clang-format on
