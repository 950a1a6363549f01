// What a shop's tills, printers and office PCs send, byte for byte: receipts
// in the forms shops use (ESC/POS with a raster logo, plain text, CP866,
// GBK, UTF-8), a till's journal lines, office print jobs and encrypted
// traffic. Receipt `number` changes the items; the first and last lines of
// each kind stay the same, as a shop's do.
#ifndef TILLWIRE_TESTS_SUPPORT_SHOP_PAYLOADS_H
#define TILLWIRE_TESTS_SUPPORT_SHOP_PAYLOADS_H

#include <string>

namespace tillwire {

// ESC @, a centred raster logo (GS v 0, its image bytes full of escapes and
// NULs), lines ended by LF, a cut (GS V 66 0).
std::string EscPosReceiptWithLogo(int number);
inline constexpr char kEscPosFirstLine[] = "HARBOUR STREET DELI";
inline constexpr char kEscPosLastLine[] = "Thank you, see you soon!";

// Plain text, lines ended by CR LF, no printer command.
std::string PlainTextReceipt(int number);
inline constexpr char kPlainFirstLine[] = "CORNER BAKERY";
inline constexpr char kPlainLastLine[] = "*** CUSTOMER COPY ***";

// ESC t 17 (CP866), Cyrillic lines, a cut. Its first and last lines in UTF-8.
std::string Cp866Receipt(int number);
extern const char kCp866FirstLine[];
extern const char kCp866LastLine[];

// FS & (two-byte characters), GBK lines, a cut.
std::string GbkReceipt(int number);
extern const char kGbkFirstLine[];

// UTF-8 lines with accents and the euro sign, LF.
std::string Utf8Receipt(int number);

// One line of a till's journal, as one UDP datagram carries it.
std::string JournalLine(int number);

// An office PC's job for a laser printer: PJL, then PostScript.
std::string PjlPostScriptJob();
// The same job in PCL.
std::string PclJob();
// A TLS record: a handshake byte, a version, then bytes that look random.
std::string TlsLikeRecord();

}  // namespace tillwire

#endif
