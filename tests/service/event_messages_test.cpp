// The program's message table, read the way the Event Viewer reads an entry
// of the source "Tillwire": the executable (its EventMessageFile) loaded as
// data, and the message of the entry's event identifier formatted with the
// entry's insertion strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string EventText(HMODULE module, DWORD eventId, const char* source, const char* message) {
  const DWORD_PTR strings[] = {reinterpret_cast<DWORD_PTR>(source),
                               reinterpret_cast<DWORD_PTR>(message)};
  char text[512] = "";
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      module, eventId, 0, text, sizeof text,
                                      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(strings)));
  return length == 0 ? "(FormatMessage failed: " + std::to_string(GetLastError()) + ")"
                     : std::string(text, length);
}

TEST(EventMessages, TheEntriesShowTheirTwoStrings) {
  HMODULE program = LoadLibraryExA(TILLWIRE_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << GetLastError();
  EXPECT_EQ(EventText(program, 0, "Tillwire", "Service started."), "Tillwire: Service started.");
  EXPECT_EQ(EventText(program, 0, "Tillwire",
                      "Unable to create service during install.  Error code=0x00000431"),
            "Tillwire: Unable to create service during install.  Error code=0x00000431");
  FreeLibrary(program);
}

}  // namespace
