// The system calls a reading process is refused (EPERM) once it has read untrusted bytes: those
// that start programs, reach other processes, open sockets, change the file system by name, make
// namespaces, or open kernel interfaces that reach past the other rules.
#pragma once

// Loads the filter for the calling process for good. False when the kernel or a host sandbox
// would not take it.
bool refuse_escaping_calls();
