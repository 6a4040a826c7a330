// Nothing is left behind when a signal ends a run: the temporary files are removed and a child
// program (Python drawing a picture) is stopped and waited for before the signal takes effect.
#pragma once

#include <sys/types.h>

#include <string>

namespace kestrune
{

// Installs the handlers for every signal that ends a program by default, except those the parent
// ignores (nohup, a script's background job): those stay ignored. Call once at start-up.
void cleanUpOnSignals();

// The handler reads path's characters: it must stay unchanged until it is unregistered.
void registerTemporaryFile(const std::string& path);
void unregisterTemporaryFile(const std::string& path);

// The running child program, -1 when there is none.
void registerChild(pid_t pid);

}  // namespace kestrune
