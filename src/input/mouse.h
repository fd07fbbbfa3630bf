// Mouse navigation: a press picks what a drag does, each motion event applies it.
#pragma once

void on_mouse(int button, int state, int x, int y);
void on_motion(int x, int y);

// Brings an angle that has just changed by at most 360 degrees back into [-180, 180].
float fold_angle(float degrees);
