// What olvanta-snapshot is asked to picture: the settings that the viewer's menu and mouse set,
// the size, and how many pictures of a turntable.
#pragma once

#include <string>

#include "app/viewer_state.h"

struct SnapshotOptions {
    std::string mesh, picture;
    int display_mode = 0, lighting = 0, projection = 0;       // the viewer's own codes
    bool hide_ground = false, hide_axes = false, hide_box = false;
    float turn[3] = {-65.0f, 0.0f, 45.0f};                     // degrees about X, Y and Z
    float zoom = 1.0f;
    float pan[3] = {0.0f, 0.0f, 0.0f};                         // model units
    int turntable = 0;                                         // pictures around Z; 0: one picture
    int size = 650;                                            // pixels, square
    int seconds = 30;                                          // for reading the mesh
    bool fit = false; // moved and scaled into the first view when it would not show there, as olvanta-open shows it
    bool help = false, version = false, can_open_display = false;
};

// False, with the reason, for a wrong command line; options may stand anywhere.
bool parse_snapshot_options(int argc, char** argv, SnapshotOptions& options, std::string& reason);

// The viewer state that shows picture `frame` (from 0): the options' settings, and for a
// turntable the turn about Z advanced by frame / turntable of a whole turn.
ViewerState state_for_frame(const SnapshotOptions& options, int frame);

// OUT itself for one picture; for a turntable OUT with the frame number, from 1, before ".png".
std::string picture_path(const SnapshotOptions& options, int frame);

int picture_count(const SnapshotOptions& options);
