// The GL state that every frame of the viewer relies on but does not set itself, for any context
// that shows the viewer's frames: its window, the snapshot tool's, the thumbnailer's.
#pragma once

void set_clear_colour();

// The light must be placed while the model-view matrix is still the identity, so that it stays
// fixed relative to the viewer.
void set_up_light();
