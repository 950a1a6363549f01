#include "service/process_entry.h"

int main(int argc, char** argv) { return tillwire::ProcessEntry(argc, argv); }
