// Writes the capture of the bundled demo: a morning rush at the Harbour Street
// Deli, as the mirror port named in demo/Tillwire.xml sees it. Four tills
// (one of them new, not yet in Tillwire.xml) print receipts over TCP, an
// order tablet sends tickets to the kitchen printer over UDP, and around them
// runs the usual noise: bare TCP
// acknowledgements, printer status replies, ARP, an IPv6 multicast, a
// VLAN-tagged frame from the guest Wi-Fi, back-office web traffic, and short
// frames padded to Ethernet's 60 bytes.
//
// With --expected, it also writes DIR/expected-PORT.txt for each terminal
// whose NVR connects in the demo: exactly the bytes that NVR should receive.
//
//   make_demo_capture OUTPUT.pcap [--expected DIR]
#include "support/capture_writer.h"
#include "support/frame_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace tillwire;

namespace {

using Frame = std::vector<unsigned char>;
// The frames of one conversation, in their order on the wire.
using Lane = std::vector<Frame>;

constexpr std::uint32_t Ipv4(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

// Ethernet pads shorter frames to this size; the padding is no payload.
const std::size_t kMinimumFrame = 60;
const std::uint16_t kPrinterPort = 9100;
const std::uint8_t kFin = 0x01;
const std::uint8_t kSyn = 0x02;
const std::uint8_t kAck = 0x10;
const std::uint8_t kPshAck = 0x18;

void PutBigEndian(Frame& frame, std::size_t offset, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8) {
    frame[offset + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value);
  }
}

// One TCP connection as it crosses the mirror port: the handshake, data that
// the other side acknowledges, and the close. Sequence numbers run as on the
// wire, so a protocol analyser can follow the stream.
class TcpConversation {
 public:
  TcpConversation(std::uint32_t clientAddress, std::uint16_t clientPort,
                  std::uint32_t serverAddress, std::uint16_t serverPort)
      : client(Endpoint(clientAddress, clientPort, serverAddress, serverPort, 0x10000000u)),
        server(Endpoint(serverAddress, serverPort, clientAddress, clientPort, 0x60000000u)) {
    Segment(client, server, kSyn, "");
    Segment(server, client, kSyn | kAck, "");
    Segment(client, server, kAck, "");
  }

  void ClientSends(const std::string& data) { Exchange(client, server, data); }
  void ServerSends(const std::string& data) { Exchange(server, client, data); }

  // Closes the connection from the client's side; returns every frame.
  Lane Close() {
    Segment(client, server, kFin | kAck, "");
    Segment(server, client, kFin | kAck, "");
    Segment(client, server, kAck, "");
    return std::move(frames);
  }

 private:
  // One end: the frames it sends and its next sequence number.
  struct Side {
    FrameFields fields;
    std::uint32_t sequence;
  };

  static Side Endpoint(std::uint32_t address, std::uint16_t port, std::uint32_t peerAddress,
                       std::uint16_t peerPort, std::uint32_t firstSequence) {
    Side side{FrameFields{}, firstSequence + (port ^ peerPort) * 7919u};
    side.fields.srcAddress = address;
    side.fields.srcPort = port;
    side.fields.dstAddress = peerAddress;
    side.fields.dstPort = peerPort;
    return side;
  }

  void Exchange(Side& from, Side& to, const std::string& data) {
    Segment(from, to, kPshAck, data);
    Segment(to, from, kAck, "");
  }

  void Segment(Side& from, const Side& to, std::uint8_t flags, const std::string& payload) {
    FrameFields fields = from.fields;
    fields.payload = payload;
    fields.padTo = kMinimumFrame;
    Frame frame = BuildFrame(fields);
    const std::size_t tcp = PayloadOffset(fields) - fields.tcpHeaderWords * 4u;
    PutBigEndian(frame, tcp + 4, from.sequence, 4);
    PutBigEndian(frame, tcp + 8, (flags & kAck) ? to.sequence : 0, 4);
    frame[tcp + 13] = flags;
    PutBigEndian(frame, tcp + 14, 64240, 2);  // window
    from.sequence += static_cast<std::uint32_t>(payload.size()) + ((flags & (kSyn | kFin)) ? 1 : 0);
    frames.push_back(std::move(frame));
  }

  Side client;
  Side server;
  Lane frames;
};

Frame Datagram(std::uint32_t src, std::uint16_t srcPort, std::uint32_t dst, std::uint16_t dstPort,
               const std::string& payload, std::optional<std::uint16_t> vlanId = std::nullopt) {
  FrameFields fields = FieldsBetween(src, srcPort, dst, dstPort, payload, 17);
  fields.vlanId = vlanId;
  fields.padTo = kMinimumFrame;
  return BuildFrame(fields);
}

// A broadcast "who has target? tell sender". The sender's hardware address
// has 6 in its second byte, where an IPv4 reader would find TCP.
Frame ArpRequest(std::uint32_t sender, std::uint32_t target) {
  Frame frame = ArpFrame();
  const unsigned char mac[] = {0x00, 0x06, 0x5b, 0x3c, 0x21, 0x0f};
  std::copy(std::begin(mac), std::end(mac), frame.begin() + 6);
  std::copy(std::begin(mac), std::end(mac), frame.begin() + 22);
  PutBigEndian(frame, 28, sender, 4);
  PutBigEndian(frame, 38, target, 4);
  frame.resize(kMinimumFrame, 0);
  return frame;
}

// A DNS (or mDNS) query for the A record of name.
std::string DnsQuery(std::uint16_t id, const std::string& name) {
  std::string query{
      static_cast<char>(id >> 8), static_cast<char>(id), 1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  std::size_t start = 0;
  while (start < name.size()) {
    const std::size_t dot = std::min(name.find('.', start), name.size());
    query += static_cast<char>(dot - start);
    query += name.substr(start, dot - start);
    start = dot + 1;
  }
  query += std::string{0, 0, 1, 0, 1};  // end of name, type A, class IN
  return query;
}

// An mDNS query from a link-local IPv6 address to ff02::fb.
Frame Ipv6Multicast(const std::string& query) {
  const std::size_t ip = 14;
  const std::size_t udp = ip + 40;
  const std::size_t payload = udp + 8;
  const auto udpLength = static_cast<std::uint32_t>(8 + query.size());
  Frame frame(payload + query.size(), 0);
  const unsigned char macs[] = {0x33, 0x33, 0, 0, 0, 0xfb, 0x02, 0x1c, 0x42, 0x5e, 0x90, 0x14};
  std::copy(std::begin(macs), std::end(macs), frame.begin());
  PutBigEndian(frame, 12, 0x86DD, 2);
  frame[ip] = 0x60;  // version 6
  PutBigEndian(frame, ip + 4, udpLength, 2);
  frame[ip + 6] = 17;   // UDP
  frame[ip + 7] = 255;  // hop limit
  const unsigned char source[] = {0xfe, 0x80, 0,    0,    0,    0,    0,    0,
                                  0x00, 0x1c, 0x42, 0xff, 0xfe, 0x5e, 0x90, 0x14};
  std::copy(std::begin(source), std::end(source), frame.begin() + ip + 8);
  frame[ip + 24] = 0xff;  // ff02::fb
  frame[ip + 25] = 0x02;
  frame[ip + 39] = 0xfb;
  PutBigEndian(frame, udp, 5353, 2);
  PutBigEndian(frame, udp + 2, 5353, 2);
  PutBigEndian(frame, udp + 4, udpLength, 2);
  std::copy(query.begin(), query.end(), frame.begin() + payload);
  return frame;
}

// --- What the shop prints ---

const std::size_t kWidth = 42;       // characters per line of an 80 mm receipt printer
const char kPaperFeed[] = "\n\n\n";  // sent on its own before the cut: a short, padded frame

struct Item {
  int quantity;
  std::string name;
  int unitCents;
};

struct Sale {
  int receipt;
  std::string time;
  std::vector<Item> items;
  std::string payment;
};

struct KitchenTicket {
  int order;
  int table;
  std::vector<std::string> lines;
};

std::string Money(int cents) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", cents / 100, cents % 100);
  return text;
}

// A line with left and right flush to the edges of the paper.
std::string Columns(const std::string& left, const std::string& right) {
  const std::size_t used = left.size() + right.size();
  return left + std::string(used < kWidth ? kWidth - used : 1, ' ') + right + "\n";
}

std::string Centred(const std::string& text) {
  return std::string((kWidth - std::min(text.size(), kWidth)) / 2, ' ') + text + "\n";
}

std::string Rule() { return std::string(kWidth, '-') + "\n"; }

// A receipt as a till sends it: heading, items, totals and paper feed, each a
// TCP segment of its own.
std::vector<std::string> ReceiptSegments(const std::string& till, const Sale& sale) {
  std::string items;
  int total = 0;
  for (const Item& item : sale.items) {
    const int cents = item.quantity * item.unitCents;
    items += Columns(std::to_string(item.quantity) + " x " + item.name, Money(cents));
    total += cents;
  }
  const std::string heading =
      Centred("HARBOUR STREET DELI") +
      Columns(till + "  Receipt " + std::to_string(sale.receipt), "30 Nov 2026 " + sale.time) +
      Rule();
  const std::string totals = Rule() + Columns("TOTAL", Money(total)) +
                             Columns(sale.payment, Money(total)) +
                             Centred("Thank you, see you soon!");
  return {heading, items, totals, kPaperFeed};
}

// A kitchen ticket as the order tablet sends it: the ticket in one datagram,
// then the paper feed.
std::vector<std::string> TicketDatagrams(const KitchenTicket& ticket) {
  std::string text = Columns("KITCHEN  Order " + std::to_string(ticket.order),
                             "Table " + std::to_string(ticket.table)) +
                     Rule();
  for (const std::string& line : ticket.lines) text += line + "\n";
  return {text, kPaperFeed};
}

// --- The shop's traffic ---

// A conversation's frames and the payload bytes that its sender printed.
struct Traffic {
  Lane frames;
  std::string printed;
};

struct Till {
  std::string name;
  std::uint32_t address;
  std::uint32_t printer;
  std::uint16_t firstPort;  // the local port of the till's first connection
  std::vector<Sale> sales;
};

const Till kTill1{
    "Till 1",
    Ipv4(192, 168, 10, 31),
    Ipv4(192, 168, 10, 40),
    51412,
    {{1042,
      "09:12",
      {{2, "Flat white", 320}, {1, "Cheese scone", 275}, {1, "Smoked salmon bagel", 790}},
      "Card"},
     {1043, "09:14", {{1, "Pot of tea", 260}, {1, "Bacon roll", 450}}, "Cash"}}};
const Till kTill2{
    "Till 2",
    Ipv4(192, 168, 10, 32),
    Ipv4(192, 168, 10, 41),
    60218,
    {{2087,
      "09:13",
      {{1, "Sourdough loaf", 420}, {1, "Mature cheddar 250g", 535}, {2, "Oat milk 1l", 185}},
      "Card"}}};
const Till kTill3{
    "Till 3",
    Ipv4(192, 168, 10, 33),
    Ipv4(192, 168, 10, 42),
    49733,
    {{3015, "09:13", {{1, "Chocolate brownie", 310}, {1, "Oat latte", 360}}, "Card"}}};
// New at the bar, and not in Tillwire.xml yet: the survey finds it.
const Till kBarTill{
    "Bar till",
    Ipv4(192, 168, 10, 34),
    Ipv4(192, 168, 10, 43),
    55120,
    {{4008, "09:15", {{2, "Fresh orange juice", 350}}, "Card"}}};
const std::vector<KitchenTicket> kKitchenTickets = {
    {57, 4, {"1 x Full breakfast", "      no mushrooms", "2 x Porridge with honey"}},
    {58, 9, {"1 x Eggs Benedict", "1 x Smoked salmon bagel"}}};

const std::uint32_t kOrderTablet = Ipv4(192, 168, 10, 60);
const std::uint32_t kKitchenPrinter = Ipv4(192, 168, 10, 45);
const std::uint32_t kOfficePc = Ipv4(192, 168, 10, 20);
const std::uint32_t kBackOfficeServer = Ipv4(192, 168, 10, 5);
const std::uint32_t kRouter = Ipv4(192, 168, 10, 1);
// ESC/POS automatic status back from a printer: online, paper present.
const std::string kPrinterStatus{0x14, 0x00, 0x00, 0x0f};

// One TCP connection per receipt; the printer answers each with its status,
// which travels towards the till and so is none of the till's traffic.
Traffic PrintReceipts(const Till& till) {
  Traffic traffic;
  std::uint16_t port = till.firstPort;
  for (const Sale& sale : till.sales) {
    TcpConversation connection(till.address, port++, till.printer, kPrinterPort);
    for (const std::string& segment : ReceiptSegments(till.name, sale)) {
      connection.ClientSends(segment);
      traffic.printed += segment;
    }
    connection.ServerSends(kPrinterStatus);
    const Lane frames = connection.Close();
    traffic.frames.insert(traffic.frames.end(), frames.begin(), frames.end());
  }
  return traffic;
}

Traffic PrintTickets(const std::vector<KitchenTicket>& tickets) {
  Traffic traffic;
  for (const KitchenTicket& ticket : tickets) {
    for (const std::string& datagram : TicketDatagrams(ticket)) {
      traffic.frames.push_back(
          Datagram(kOrderTablet, 50001, kKitchenPrinter, kPrinterPort, datagram));
      traffic.printed += datagram;
    }
  }
  return traffic;
}

// The office PC fetching the stock list from the back-office server.
Lane BackOfficeWeb() {
  TcpConversation connection(kOfficePc, 50211, kBackOfficeServer, 80);
  connection.ClientSends("GET /stock/export.csv HTTP/1.1\r\nHost: 192.168.10.5\r\n\r\n");
  connection.ServerSends(
      "HTTP/1.1 200 OK\r\nContent-Type: text/csv\r\nContent-Length: 63\r\n\r\n"
      "sku;item;stock\n1001;Flat white cups;340\n2040;Sourdough loaf;12\n");
  return connection.Close();
}

// Broadcasts, multicasts and other hosts' lookups: none of it is IPv4 from or
// to a terminal.
Lane Background() {
  return {
      ArpRequest(kTill1.address, kTill1.printer),
      Datagram(kOfficePc, 53122, kRouter, 53, DnsQuery(0x4a1f, "time.windows.com")),
      Ipv6Multicast(DnsQuery(0, "receipt-printer.local")),
      Datagram(Ipv4(10, 30, 0, 57), 61544, Ipv4(10, 30, 0, 1), 53,
               DnsQuery(0x9c03, "connectivitycheck.gstatic.com"), 30),  // guest Wi-Fi, VLAN 30
      ArpRequest(kOfficePc, kRouter),
  };
}

// Interleaves the lanes as if they ran at the same time, each spread evenly
// over the capture; every lane keeps its own order.
std::vector<const Frame*> Interleave(const std::vector<Lane>& lanes) {
  std::vector<std::pair<double, const Frame*>> timeline;
  for (const Lane& lane : lanes) {
    for (std::size_t i = 0; i < lane.size(); ++i) {
      timeline.emplace_back((i + 0.5) / static_cast<double>(lane.size()), &lane[i]);
    }
  }
  std::stable_sort(timeline.begin(), timeline.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<const Frame*> frames;
  for (const auto& entry : timeline) frames.push_back(entry.second);
  return frames;
}

// Writes DIR/expected-PORT.txt for each NVR port. Till 3's NVR (port 47004)
// stays away in the demo, so what Till 3 prints is dropped and not expected.
bool WriteExpected(const std::string& directory, const std::map<int, std::string>& expected) {
  for (const auto& [port, bytes] : expected) {
    const std::string path = directory + "/expected-" + std::to_string(port) + ".txt";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << bytes) || !out.flush()) {
      std::fprintf(stderr, "make_demo_capture: cannot write %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: make_demo_capture OUTPUT.pcap [--expected DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--expected")) return Usage();
  const Traffic till1 = PrintReceipts(kTill1);
  const Traffic till2 = PrintReceipts(kTill2);
  const Traffic till3 = PrintReceipts(kTill3);
  const Traffic barTill = PrintReceipts(kBarTill);
  const Traffic kitchen = PrintTickets(kKitchenTickets);

  try {
    CaptureWriter capture(argv[1]);
    const std::vector<Lane> lanes = {till1.frames,   till2.frames,    till3.frames,
                                     barTill.frames, kitchen.frames,  BackOfficeWeb(),
                                     Background()};
    for (const Frame* frame : Interleave(lanes)) capture.Write(*frame);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_demo_capture: %s\n", error.what());
    return 1;
  }

  if (argc == 4 &&
      !WriteExpected(argv[3],
                     {{47001, till1.printed}, {47002, till2.printed}, {47003, kitchen.printed}})) {
    return 1;
  }
  return 0;
}
