// Ending the program by a signal while a helper runs must not leave the
// helper behind.
#pragma once

namespace kestrix::plugins {

// From now on SIGTERM, SIGINT, SIGHUP and SIGQUIT first kill and reap the
// helper that is running, if any, and then end the process by the same
// signal with its default action, so callers see the status they always saw.
// Nothing is printed. A signal the program was started with ignored stays
// ignored. Call once, from the main thread, which is also the thread that
// starts helpers (the kernel ties a child's parent-death signal to the
// thread that forked it).
void guard_children_against_termination();

}  // namespace kestrix::plugins
