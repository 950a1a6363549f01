// Runs the engine from the command line: the capture file's name as the one
// argument, or none for live capture.
#include "capture/engine.h"

int main(int argc, char** argv) { return RunEngine(argc > 1 ? argv[1] : ""); }
