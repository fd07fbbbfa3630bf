// Any mesh file, made readable by the viewer's reader, and shown whole. The file is opened once and
// judged whole: a file in the viewer's own form is read as it is, through the very descriptor it
// was judged by; anything else (the rest of the Vertex/Face family, OBJ, PLY, STL, ...) goes
// through olvanta-convert into a pipe, so no converted copy is ever left on disk. A stream (a pipe,
// a FIFO, standard input) is first kept whole in memory, so it is judged whole as well.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "viewers_form.h"

// Whether the model is moved and scaled into the first view: never, when it would not show there
// as it lies, or always.
enum class Fitting { as_it_lies, when_out_of_view, always };

struct SourceOptions {
    Fitting fitting = Fitting::as_it_lies;
    std::vector<std::string> converter_options; // before its INPUT and OUTPUT (limits)
    std::uint64_t largest_stream = 0;           // bytes of a stream kept in memory; 0: the default
    int stream_seconds = 0;                     // how long a stream may take to end; 0: no limit
    bool hold_pipe = false;       // keep the pipe's writing end, so its reader sees its end only when
                                  // the conversion succeeded (see release_pipe)
    bool capture_converter = false; // the converter's standard error comes through a pipe, not ours
};

enum class SourceFailure { none, opening, reading, too_large, timed_out, starting };

struct MeshSource {
    std::string name;           // what the viewer's reader opens: /dev/fd/N
    int fd = -1;                // the descriptor behind it: the file, its copy in memory, or the pipe
    int input = -1;             // the input as opened (or its copy), while the converter reads it
    int pipe_writer = -1;       // held with hold_pipe until release_pipe
    int converter_says = -1;    // the converter's standard output, when it fits when needed
    int converter_errors = -1;  // its standard error, with capture_converter
    pid_t converter = -1;
    FormJudgement judgement;    // of the file as it was opened
    std::string fitted;         // why the model is fitted, when that was known before converting
    SourceFailure failure = SourceFailure::none;
};

// How a judged file reaches the reader: as it is, or through the converter with a fitting option
// ("--fit", "--fit-when-needed" or none), and, when it is fitted for a reason known before
// converting, that reason in words.
struct SourceWay {
    bool as_it_is;
    std::string fit_option;
    std::string fitted;
};
SourceWay way_for(const FormJudgement& judgement, Fitting fitting);

// The path of the program `name` installed beside the running one, as the tools are.
std::string program_beside_this_one(const char* name);

// Ready to read `path` through `source.name`; false with the system's reason (or none) and the
// failure's kind in source.failure.
bool open_mesh_source(const std::string& path, const SourceOptions& options, MeshSource& source,
                      std::string& reason);

// One line about a failure, naming the file: "cannot open 'x.m': No such file or directory".
std::string source_failure_line(const std::string& path, const MeshSource& source, const std::string& reason,
                                const SourceOptions& options);

// Whether the file shows as it is and holds no face: the viewer shows an empty scene.
bool holds_no_mesh(const MeshSource& source);

// Lets the pipe's reader see its end, after the conversion succeeded.
void release_pipe(MeshSource& source);

// The converter's exit status once it has ended (0 for a file read as it is), 128 + the signal
// when a signal ended it.
int wait_for_converter(MeshSource& source);

// Ends the converter if it still runs, and closes every descriptor of the source.
void close_mesh_source(MeshSource& source);
