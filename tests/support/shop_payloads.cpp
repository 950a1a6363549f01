#include "support/shop_payloads.h"

#include <cstdint>

namespace tillwire {

namespace {

const std::string kInitialise("\x1B@", 2);
const std::string kCut("\x1DV\x42\x00", 4);

// GS v 0: a raster image of `widthBytes` by `rows` dots; its bytes cycle
// through every value, escapes and NULs included.
std::string RasterImage(int widthBytes, int rows) {
  std::string image("\x1Dv0\x00", 4);
  image += static_cast<char>(widthBytes & 0xFF);
  image += static_cast<char>(widthBytes >> 8);
  image += static_cast<char>(rows & 0xFF);
  image += static_cast<char>(rows >> 8);
  for (int i = 0; i < widthBytes * rows; ++i) image += static_cast<char>((i * 37) & 0xFF);
  return image;
}

std::string Item(int number) { return "Item " + std::to_string(number) + "      " + std::to_string(number % 9 + 1) + ".50"; }

}  // namespace

std::string EscPosReceiptWithLogo(int number) {
  return kInitialise + std::string("\x1B" "a\x01", 3) + RasterImage(48, 60) +
         std::string(kEscPosFirstLine) + "\n" + std::string("\x1B" "a\x00", 3) +
         std::string("\x1B" "E\x01", 3) + Item(number) + "\n" + std::string("\x1B" "E\x00", 3) +
         "Total            12.50\n" + std::string("\x1D" "k\x04" "12345\0", 9) +
         std::string(kEscPosLastLine) + "\n" + std::string("\x1B" "d\x03", 3) + kCut;
}

std::string PlainTextReceipt(int number) {
  return std::string(kPlainFirstLine) + "\r\n" + Item(number) + "\r\nTOTAL 4.20\r\n" +
         kPlainLastLine + "\r\n\r\n";
}

// "МАГАЗИН У ДОМА" and "СПАСИБО ЗА ПОКУПКУ" in UTF-8.
const char kCp866FirstLine[] =
    "\xD0\x9C\xD0\x90\xD0\x93\xD0\x90\xD0\x97\xD0\x98\xD0\x9D \xD0\xA3 \xD0\x94\xD0\x9E\xD0\x9C\xD0\x90";
const char kCp866LastLine[] =
    "\xD0\xA1\xD0\x9F\xD0\x90\xD0\xA1\xD0\x98\xD0\x91\xD0\x9E \xD0\x97\xD0\x90 "
    "\xD0\x9F\xD0\x9E\xD0\x9A\xD0\xA3\xD0\x9F\xD0\x9A\xD0\xA3";

std::string Cp866Receipt(int number) {
  return kInitialise + std::string("\x1Bt\x11", 3) +
         "\x8C\x80\x83\x80\x87\x88\x8D \x93 \x84\x8E\x8C\x80\n"
         "\x95\xAB\xA5\xA1 \xE0\xA6\xA0\xAD\xAE\xA9 x" + std::to_string(number) + "       45.00\n"
         "\x88\x92\x8E\x83\x8E             45.00\n"
         "\x91\x8F\x80\x91\x88\x81\x8E \x87\x80 \x8F\x8E\x8A\x93\x8F\x8A\x93\n" + kCut;
}

// "欢迎光临" in UTF-8.
const char kGbkFirstLine[] = "\xE6\xAC\xA2\xE8\xBF\x8E\xE5\x85\x89\xE4\xB8\xB4";

std::string GbkReceipt(int number) {
  return kInitialise + std::string("\x1C&", 2) +
         "\xBB\xB6\xD3\xAD\xB9\xE2\xC1\xD9\n"
         "\xC3\xE6\xB0\xFC x" + std::to_string(number) + "          12.50\n"
         "\xBA\xCF\xBC\xC6              12.50\n"
         "\xD0\xBB\xD0\xBB\xBB\xDD\xB9\xCB\n" + std::string("\x1C.", 2) + kCut;
}

std::string Utf8Receipt(int number) {
  return "Caf\xC3\xA9 de la Gare\n"
         "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e x" + std::to_string(number) + "   6,50 \xE2\x82\xAC\n"
         "Total              6,50 \xE2\x82\xAC\n"
         "Merci et \xC3\xA0 bient\xC3\xB4t\n";
}

std::string JournalLine(int number) {
  return "J" + std::to_string(1000 + number) + " SALE 1 x Coffee 2.80 CASH\n";
}

std::string PjlPostScriptJob() {
  return "\x1B%-12345X@PJL JOB NAME=\"Quarterly report\"\r\n"
         "@PJL SET DUPLEX=ON\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n"
         "%!PS-Adobe-3.0\n%%Title: Quarterly report\n%%Pages: 1\n"
         "/Helvetica findfont 12 scalefont setfont\n72 720 moveto (Sales by shop) show\n"
         "showpage\n%%EOF\n\x1B%-12345X@PJL EOJ\r\n\x1B%-12345X";
}

std::string PclJob() {
  return "\x1B" "E\x1B&l0O\x1B&l26A\x1B(s0p12h10v0s0b3T"
         "Quarterly report\r\nSales by shop\r\n\x0C\x1B" "E";
}

std::string TlsLikeRecord() {
  std::string record("\x16\x03\x01\x02\x00", 5);
  std::uint32_t state = 2463534242u;
  for (int i = 0; i < 512; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    record += static_cast<char>(state & 0xFF);
  }
  return record;
}

}  // namespace tillwire
