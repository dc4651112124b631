#pragma once
// The resource id of Image1's picture, shared by the resource script and the code (a macro,
// so that the resource compiler reads it too).

#define QUENVAR_FACE_BITMAP 101
