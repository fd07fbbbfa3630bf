// Timing whole processes from outside: the viewer from the typed file name to its request for a
// window, and any command from start to exit.
#pragma once

#include <string>

// A listening socket standing in for an X display at 127.0.0.1:number. The viewer's connection
// to it is its request for the window; it is refused at once, so the viewer ends there.
struct StandInDisplay {
    int listener = -1;
    int number = -1;
};

StandInDisplay open_stand_in_display();
void close_stand_in_display(StandInDisplay& display);

// How a program is run: on every core, or held to the first.
struct Placement {
    bool one_core = false;
};

// A timed run and the page faults the program took in all (its minor faults, from its rusage).
struct ProcessRun {
    double seconds = -1;
    long page_faults = 0;
};

// From the moment the file name is typed at the viewer's prompt to its connection to the
// display; negative seconds when it never connects.
ProcessRun from_name_to_window_request(const std::string& viewer, const std::string& mesh, const StandInDisplay& display,
                                       Placement placement = {});

// Seconds from the start of `program FILE` (olvanta-open) to the viewer's connection to the display.
double seconds_from_start_to_window_request(const std::string& program, const std::string& mesh,
                                            const StandInDisplay& display);

// Seconds from the start of a program to its exit; negative when it fails.
double seconds_of_process(const std::string& program, const std::string& argument1,
                          const std::string& argument2, Placement placement = {});
