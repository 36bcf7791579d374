// The host's start-up sequence and message loop.
#ifndef KESTRO_HOST_RUN_HOST_H_
#define KESTRO_HOST_RUN_HOST_H_

namespace kestro {

// Runs the application to completion on the calling (main) thread and returns the process
// exit code: 0 after a normal close or as a second instance, 1 when the window could not be
// created.
int RunHost();

}  // namespace kestro

#endif  // KESTRO_HOST_RUN_HOST_H_
