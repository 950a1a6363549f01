#include "capture/office_job.h"

#include <cstring>

namespace tillwire {

namespace {

struct Signature {
  const char* bytes;
  OfficeJob job;
};

constexpr Signature kSignatures[] = {
    {"\x1B%-12345X", OfficeJob::kPjl}, {"@PJL", OfficeJob::kPjl},
    {"%!", OfficeJob::kPostScript},     {"%PDF-", OfficeJob::kPdf},
    {"\x1B" "E\x1B", OfficeJob::kPcl},
};

}  // namespace

OfficeJob OfficeJobOf(const unsigned char* head, std::size_t length) {
  for (const Signature& signature : kSignatures) {
    const std::size_t size = std::strlen(signature.bytes);
    if (length >= size && std::memcmp(head, signature.bytes, size) == 0) return signature.job;
  }
  return OfficeJob::kNone;
}

const char* OfficeJobName(OfficeJob job) {
  switch (job) {
    case OfficeJob::kPjl: return "PJL";
    case OfficeJob::kPostScript: return "PostScript";
    case OfficeJob::kPcl: return "PCL";
    case OfficeJob::kPdf: return "PDF";
    case OfficeJob::kNone: break;
  }
  return "";
}

}  // namespace tillwire
