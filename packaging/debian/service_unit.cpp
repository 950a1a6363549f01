// Writes the systemd unit that the Debian package ships, from the same text
// that -install writes (ServiceUnitText), so the two never differ.
//
//   tillwire_service_unit PROGRAM_PATH UNIT_FILE
//
// PROGRAM_PATH is where the package installs the program. Exit status 0 when
// the unit was written, 1 otherwise (with the reason on standard error).
#include "platform/systemd_unit.h"
#include "service/process_entry.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 3 || !tillwire::RunnableBySystemd(argv[1])) {
    std::fprintf(stderr, "usage: tillwire_service_unit PROGRAM_PATH UNIT_FILE\n");
    return 1;
  }
  std::ofstream unit(argv[2], std::ios::out | std::ios::trunc);
  unit << tillwire::ServiceUnitText(tillwire::text::kServiceDescription, argv[1]);
  unit.close();
  if (!unit) {
    std::fprintf(stderr, "tillwire_service_unit: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
