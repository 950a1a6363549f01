// Office print jobs, told apart from receipts by how they begin: the page
// description languages that office printers take on the same ports as
// receipt printers (9100, LPD, IPP). A receipt never begins like these.
#ifndef TILLWIRE_CAPTURE_OFFICE_JOB_H
#define TILLWIRE_CAPTURE_OFFICE_JOB_H

#include <cstddef>
#include <cstdint>

namespace tillwire {

enum class OfficeJob : std::uint8_t {
  kNone,
  kPjl,         // "@PJL", or the job separator "ESC %-12345X" before it
  kPostScript,  // "%!"
  kPcl,         // "ESC E" (reset) followed by another escape sequence
  kPdf,         // "%PDF-"
};

// The most bytes of a stream's beginning that OfficeJobOf looks at.
inline constexpr std::size_t kOfficeJobHead = 16;

// The job that a stream beginning with these bytes is, or kNone.
OfficeJob OfficeJobOf(const unsigned char* head, std::size_t length);

// Its name as the survey prints it: "PJL", "PostScript", "PCL", "PDF".
const char* OfficeJobName(OfficeJob job);

}  // namespace tillwire

#endif
