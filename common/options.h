// The only arguments the programs answer: --help (or -h) and --version.
// Every other argument is ignored, as it always was, since scripts may pass
// some; "--" ends the search.
#pragma once

namespace track {

// Returns -1 when the arguments ask for neither. Otherwise prints the usage
// or "PROGRAM (trackconv) VERSION" on standard output and returns the exit
// status: 0, or `failure` when standard output could not take it.
int answer_options(int argc, char **argv, const char *program, const char *usage, int failure);

}  // namespace track
