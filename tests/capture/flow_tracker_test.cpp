#include "capture/flow_tracker.h"
#include "capture/frame_router.h"
#include "support/recording_sink.h"
#include "support/terminal_tables.h"
#include "support/till_segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace tillwire;

namespace {

// A TCP segment handed to the tracker as the data path hands it when a
// terminal takes the till's direction only: the till's to Admit, which
// answers with the bytes to forward (pieces that lie in the payload, in
// order, none overlapping); the printer's to Observe.
std::string Deliver(FlowTracker& flows, const Segment& segment, std::uint32_t now) {
  const TcpHeader header{segment.sequence, segment.ack, segment.flags};
  const auto length = static_cast<std::uint32_t>(segment.payload.size());
  if (segment.fromPrinter) {
    flows.Observe(KeyOf(segment), header, length, now);
    return "";
  }
  NewBytes fresh;
  flows.Admit(KeyOf(segment), header, length, now, &fresh);
  EXPECT_LE(fresh.count, NewBytes::kMaxPieces);
  std::string taken;
  std::uint32_t next = 0;  // where the next piece may begin
  for (int i = 0; i < std::min(fresh.count, NewBytes::kMaxPieces); ++i) {
    const NewBytes::Piece piece = fresh.pieces[i];
    if (piece.length == 0 || piece.offset < next || piece.offset > length ||
        piece.length > length - piece.offset) {
      ADD_FAILURE() << "piece " << i << " (offset " << piece.offset << ", length " << piece.length
                    << ") of a " << length << "-byte payload";
      return taken + "<bad piece>";
    }
    taken += segment.payload.substr(piece.offset, piece.length);
    next = piece.offset + piece.length;
  }
  return taken;
}

// The frame path with one terminal (the till's traffic to the printer, not
// the printer's answers): what it hands on to the terminal's NVR for the frames routed.
class FlowPathTest : public testing::Test {
 protected:
  void Process(const Segment& segment, std::uint32_t seconds = 0) {
    const std::vector<unsigned char> frame = FrameOf(segment);
    router.Route(frame.data(), static_cast<std::uint32_t>(frame.size()), seconds);
  }

  // Everything handed on since the last call.
  std::string ReceivedNow() {
    std::string part = sink.received[0].substr(seen);
    seen = sink.received[0].size();
    return part;
  }

  const TerminalMatcher matcher{TableOf({RecordOf({"192.168.10.31", "", "", ""}, "0")})};
  // Small, so that a test can fill it.
  FlowTracker flows{64};
  RecordingSink sink;
  FrameRouter<RecordingSink> router{matcher, flows, sink};
  std::size_t seen = 0;
};

TEST_F(FlowPathTest, EachTcpByteReachesTheNvrOnce) {
  struct Case {
    const char* name;
    std::vector<Segment> frames;
    std::string received;
  };
  const Case cases[] = {
      {"retransmission", {{100, "abc"}, {103, "def"}, {103, "def"}, {106, "ghi"}}, "abcdefghi"},
      {"every frame doubled by the mirror",
       {Flags(999, kSyn), Flags(999, kSyn), {1000, "ab"}, {1000, "ab"}, {1002, "cd"},
        {1002, "cd"}, Flags(1004, kFin), Flags(1004, kFin)},
       "abcd"},
      {"keep-alive probe repeats the last byte sent",
       {{100, "TOTAL 9.95\n"}, {110, "\n"}, {110, "\n"}, {111, "next"}},
       "TOTAL 9.95\nnext"},
      {"zero-window probe, then the same byte with the rest",
       {{100, "abc"}, {103, "d"}, {103, "d"}, {103, "defg"}}, "abcdefg"},
      {"partial overlap: only the new part", {{100, "abcdef"}, {103, "defghi"}}, "abcdefghi"},
      {"retransmission spanning two segments and a gap",
       {{100, "ab"}, {104, "ef"}, {100, "abcdefgh"}}, "abefcdgh"},
      {"gap forwarded at once, late fill when it arrives",
       {{100, "abc"}, {106, "ghi"}, {103, "def"}, {103, "def"}}, "abcghidef"},
      {"first seen mid-stream: earlier bytes arriving later still go",
       {{500, "later"}, {495, "early"}, {495, "early"}}, "laterearly"},
      {"sequence numbers that wrap",
       {{0xFFFFFFFEu, "abc"}, {1, "def"}, {0xFFFFFFFFu, "bcde"}, {4, "g"}}, "abcdefg"},
      {"four-tuple reused after FIN, new SYN with a lower number",
       {Flags(1000, kSyn), {1001, "first"}, Flags(1006, kFin), Flags(500, kSyn), {501, "second"},
        {501, "second"}},
       "firstsecond"},
      {"reused after FIN, SYN missed: bytes past the old end start afresh",
       {{1001, "first"}, Flags(1006, kFin), {1003, "second"}, {1003, "second"}}, "firstsecond"},
      {"after FIN, retransmissions of the old stream are still copies",
       {{1001, "first"}, Flags(1006, kFin), {1001, "first"}}, "first"},
      {"reused after the printer's RST, SYN missed",
       {{1001, "first"}, Flags(7000, kRst, true), {1004, "again"}}, "firstagain"},
      {"an RST inside the printer's window, then a new connection inside the old stream",
       {{1001, "first connection"}, Flags(kPrinterAck, kRst, true), {1004, "again", 0x7A7A0001}},
       "first connectionagain"},
      {"the till's own RST at its stream's front, then a new connection inside it",
       {{1001, "first connection"}, Flags(1017, kRst), {1004, "again", 0x7A7A0001}},
       "first connectionagain"},
      {"new connection whose SYN was missed, far from the old stream",
       {{1001, "first"}, {0x80001001u, "first"}}, "firstfirst"},
  };
  std::uint16_t port = 40000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++port;  // each case a connection of its own
    for (Segment segment : c.frames) {
      segment.tillPort = port;
      Process(segment);
    }
    EXPECT_EQ(ReceivedNow(), c.received);
  }
}

// Connections that reuse their addresses and ports, and control segments
// that come late or that the endpoints ignore: the bytes of each connection
// reach the NVR once, none lost to the connection before and none repeated.
TEST_F(FlowPathTest, ReusedAddressesAndStrayControlSegmentsLoseAndRepeatNothing) {
  // A closed connection: SYN, data, the till's FIN, the printer's FIN.
  const std::vector<Segment> closed = {Flags(1000, kSyn, false, 0), {1001, "first connection"},
                                       Flags(1017, kFin), Flags(kPrinterAck, kFin, true, 1018)};
  auto after = [&](std::vector<Segment> next) {
    next.insert(next.begin(), closed.begin(), closed.end());
    return next;
  };
  // An earlier connection on the same ports makes the closed one's SYN known.
  std::vector<Segment> sameStart = after(
      {Flags(1000, kSyn, false, 0), Flags(1000, kSyn, false, 0), {1001, "second", 9001},
       {1001, "second", 9001}});
  sameStart.insert(sameStart.begin(), Segment{0x30000001, "earlier "});
  struct Case {
    const char* name;
    std::vector<Segment> frames;
    std::string received;
  };
  const Case cases[] = {
      {"a new connection with the closed one's initial sequence number", sameStart,
       "earlier first connectionsecond"},
      {"both sides reuse their initial sequence numbers: only the SYN tells",
       after({Flags(1000, kSyn, false, 0), {1001, "second"}}), "first connectionsecond"},
      {"a new connection whose SYN was missed, inside the closed one's stream",
       after({{1005, "second", 0x7A7A0001}, {1005, "second", 0x7A7A0001}}),
       "first connectionsecond"},
      {"a retransmission of the closed stream is still a copy",
       after({{1001, "first connection", kPrinterAck + 1}, {1007, "connection", kPrinterAck}}),
       "first connection"},
      {"a copy of the SYN delayed behind the data",
       {{1001, "abc"}, Flags(1000, kSyn, false, 0), {1004, "def"}, {1001, "abcdef"}}, "abcdef"},
      {"the SYN reordered behind the second segment",
       {{1004, "def"}, Flags(1000, kSyn, false, 0), {1001, "abc"}, {1004, "def"}}, "defabc"},
      {"the SYN seen first, its copy after data far into the stream",
       {Flags(1000, kSyn, false, 0), {71001, "far"}, Flags(1000, kSyn, false, 0),
        {1001, "near"}, {71001, "far"}},
       "farnear"},
      {"a SYN carrying data, and its copy", {Segment{1000, "abc", 0, kSyn}, {1001, "abcdef"},
       Segment{1000, "abc", 0, kSyn}}, "abcdef"},
      {"a late copy of the printer's SYN/ACK",
       {Flags(1000, kSyn, false, 0), {1001, "abc"}, SynAck(5000, 1000), SynAck(5000, 1000),
        {1001, "abcdef"}},
       "abcdef"},
      {"the same initial sequence number again, the printer's FIN missed",
       {Flags(1000, kSyn, false, 0), SynAck(5000, 1000), {1001, "first connection"},
        Flags(1017, kFin), Flags(1000, kSyn, false, 0), SynAck(9000, 1000),
        {1001, "second", 9001}},
       "first connectionsecond"},
      {"the same initial sequence number again, the till's FIN missed",
       {Flags(1000, kSyn, false, 0), SynAck(5000, 1000), {1001, "first connection"},
        Flags(kPrinterAck, kFin, true, 1017), Flags(1000, kSyn, false, 0), SynAck(9000, 1000),
        {1001, "second", 9001}},
       "first connectionsecond"},
      {"the printer's FIN on its last status bytes, which no terminal takes",
       {Flags(1000, kSyn, false, 0), {1001, "first connection"}, Flags(1017, kFin),
        Segment{kPrinterAck, "status", 1018, kFin | 0x08, true}, Flags(1000, kSyn, false, 0),
        {1001, "second", 9001}},
       "first connectionsecond"},
      {"the till rebooted without a FIN or RST, then the same initial sequence number",
       {Flags(1000, kSyn, false, 0), SynAck(5000, 1000), {1001, "first connection"},
        Flags(1000, kSyn, false, 0), SynAck(9000, 1000), {1001, "second", 9001}},
       "first connectionsecond"},
      {"both sides reuse their initial sequence numbers, no close seen: taken for the old one",
       {Flags(1000, kSyn, false, 0), SynAck(5000, 1000), {1001, "first connection"},
        Flags(1000, kSyn, false, 0), SynAck(5000, 1000), {1001, "second"}},
       "first connection"},
      {"the printer's RST far ahead of its window",
       {{1001, "receipt"},
        Flags(kPrinterAck + 0x10000000u, kRst, true),
        {1001, "receipt and more"}},
       "receipt and more"},
      {"the printer's RST behind its window",
       {{1001, "receipt"}, Flags(kPrinterAck - 100, kRst, true), {1001, "receipt and more"}},
       "receipt and more"},
      {"the till's RST behind its stream",
       {{1001, "receipt"}, Flags(900, kRst), {1001, "receipt and more"}}, "receipt and more"},
  };
  std::uint16_t port = 41000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++port;
    for (Segment segment : c.frames) {
      segment.tillPort = port;
      Process(segment);
    }
    EXPECT_EQ(ReceivedNow(), c.received);
  }
}

// Many short connections pass while printers' connections stay open and
// idle: the closed ones give up their slots, so a keep-alive probe of an idle
// connection (its last byte again) is still known for a copy.
TEST_F(FlowPathTest, ShortConnectionsDoNotPushOutIdleLiveOnes) {
  const int live = 8;
  const int shortLived = 1000;  // many times the table
  for (int i = 0; i < live; ++i) {
    Segment hello{1001, "live\n"};
    hello.tillPort = static_cast<std::uint16_t>(30000 + i);
    Process(hello, 0);
  }
  std::uint32_t now = 0;
  for (std::uint16_t port = 31000; port < 31000 + shortLived; ++port, now += 5) {
    for (Segment segment : {Segment{1001, "ticket\n"}, Flags(1008, kFin),
                            Flags(kPrinterAck, kFin, true, 1009)}) {
      segment.tillPort = port;
      Process(segment, now);
    }
  }
  EXPECT_EQ(ReceivedNow().size(), live * 5u + shortLived * 7u);
  std::string expected;
  for (int i = 0; i < live; ++i) {
    for (Segment segment : {Segment{1005, "\n"}, Segment{1001, "live\nbye\n"}}) {
      segment.tillPort = static_cast<std::uint16_t>(30000 + i);
      Process(segment, now);
    }
    expected += "bye\n";
  }
  EXPECT_EQ(ReceivedNow(), expected);
}

TEST_F(FlowPathTest, UdpDatagramsGoAsTheyCome) {
  Segment datagram{0, "ticket\n"};
  datagram.udp = true;
  Process(datagram);
  Process(datagram);
  EXPECT_EQ(ReceivedNow(), "ticket\nticket\n");
}

// One frame of a connection as the mirror shows it: the order it comes in,
// and for a data frame where its bytes lie in the connection's stream.
struct Shown {
  double order;
  Segment segment;
  std::size_t offset = 0;
};

// How one connection of the till's goes.
struct Plan {
  std::uint32_t isn;         // the till's initial sequence number
  std::uint32_t printerAck;  // the printer's, plus one
  bool withSyn;              // the till's SYN is shown, and the printer's SYN/ACK
  bool handshakeMayBeLate;   // behind the connection's first data
  bool mayStayOpen;          // the tracker may see no close, or half of one
};

// A connection of the till's, with the printer's part in opening and closing
// it: its stream cut into segments that are copied, retransmitted in other
// cuts, probed, dropped and reordered at random; its SYN (unless it has none)
// doubled, or late behind the first segment or behind later ones, the
// printer's SYN/ACK beside it or later (not late when the printer reuses its
// initial sequence number too: then nothing but the SYN tells the
// connections apart, nor when the connection before was not seen to close:
// then nothing but the handshake does); the SYN/ACK now and then shown when
// the SYN was missed; RSTs that the endpoints ignore (outside their windows)
// among the data; closed by a FIN from each side (the printer's now and then
// on its last status bytes, which no terminal takes) or an RST inside the
// window, and after FINs retransmitted again now and then; or, when it may
// stay open, with one of the FINs missed or none at all (a till that
// rebooted).
class RandomConnection {
 public:
  RandomConnection(std::mt19937& random, const Plan& plan)
      : random(random), isn(plan.isn), ack(plan.printerAck) {
    stream.assign(200 + random() % 3000, ' ');
    std::uint32_t letters = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) {
      if (i % 5 == 0) letters = static_cast<std::uint32_t>(random());  // five letters a number
      stream[i] = static_cast<char>('a' + letters % 26);
      letters /= 26;
    }
    CutAndScramble();
    if (plan.withSyn) {
      AddHandshake(plan.handshakeMayBeLate);
    } else if (random() % 3 == 0) {
      AddSynAck(static_cast<double>(random() % 8));
    }
    AddStrayResets();
    seenToClose = Close(plan.mayStayOpen);
    std::stable_sort(frames.begin(), frames.end(),
                     [](const Shown& a, const Shown& b) { return a.order < b.order; });
  }
  std::size_t Length() const { return stream.size(); }
  std::vector<Shown> frames;
  std::string stream;
  bool seenToClose = false;  // a FIN from each side, or an RST, was shown

 private:
  std::uint32_t Sequence(std::size_t offset) const {
    return isn + 1 + static_cast<std::uint32_t>(offset);
  }
  void AddData(std::size_t offset, std::size_t length, double order,
               std::uint32_t acknowledgment) {
    const Segment data{Sequence(offset), stream.substr(offset, length), acknowledgment};
    frames.push_back({order, data, offset});
  }
  void AddControl(double order, std::uint32_t sequence, std::uint8_t flags, bool fromPrinter,
                  std::uint32_t acknowledgment) {
    frames.push_back({order, Flags(sequence, flags, fromPrinter, acknowledgment)});
  }
  void AddSynAck(double order) { frames.push_back({order, SynAck(ack - 1, isn)}); }
  void CutAndScramble() {
    std::vector<std::size_t> cuts = {0};
    while (cuts.back() < stream.size()) {
      cuts.push_back(std::min(stream.size(), cuts.back() + 1 + random() % 200));
    }
    segments = cuts.size() - 1;
    for (std::size_t i = 0; i < segments; ++i) {
      const std::size_t begin = cuts[i];
      const std::size_t length = cuts[i + 1] - begin;
      const double at = static_cast<double>(i);
      auto later = [&] { return at + (random() % 1000) / 200.0; };  // up to five places late
      if (random() % 10 == 0) continue;                              // lost before the mirror
      AddData(begin, length, later(), ack);
      if (random() % 3 == 0) AddData(begin, length, later(), ack);  // copy
      if (random() % 5 == 0 && i + 2 < cuts.size()) {              // re-cut retransmission
        AddData(begin, cuts[i + 2] - begin, later(), ack);
      }
      if (random() % 8 == 0) AddData(begin + length - 1, 1, later(), ack);  // probe
    }
  }
  void AddHandshake(bool mayBeLate) {
    double synOrder = -1;
    switch (random() % (mayBeLate ? 4 : 2)) {
      case 0:
        AddControl(synOrder, isn, kSyn, false, 0);
        break;
      case 1:  // every frame doubled
        AddControl(synOrder, isn, kSyn, false, 0);
        AddControl(synOrder, isn, kSyn, false, 0);
        break;
      case 2:  // the SYN late, behind the connection's first segment
        AddData(0, std::min<std::size_t>(stream.size(), 50), -2, ack);
        synOrder = static_cast<double>(random() % 8);
        AddControl(synOrder, isn, kSyn, false, 0);
        break;
      default:  // the SYN reordered behind later segments
        synOrder = static_cast<double>(random() % 8);
        AddControl(synOrder, isn, kSyn, false, 0);
    }
    AddSynAck(synOrder);
    if (mayBeLate && random() % 2 == 0) AddSynAck(synOrder + random() % 4);
  }
  // Behind or far ahead of the window of the side that would receive them.
  void AddStrayResets() {
    for (int i = random() % 3; i > 0; --i) {
      const double order = static_cast<double>(random() % (segments + 1));
      const std::uint32_t distance = 1 + random() % 100000;
      switch (random() % 4) {
        case 0:
          AddControl(order, ack - distance, kRst, true, 0);
          break;
        case 1:
          AddControl(order, ack + FlowTracker::kResetWindow + distance, kRst, true, 0);
          break;
        case 2:
          AddControl(order, isn + 1 - distance, kRst, false, 0);
          break;
        default:
          AddControl(order, Sequence(stream.size()) + FlowTracker::kResetWindow + distance, kRst,
                     false, 0);
      }
    }
  }
  // True when the close shown is whole.
  bool Close(bool mayStayOpen) {
    const double end = static_cast<double>(segments) + 10;
    const std::uint32_t tillEnd = Sequence(stream.size());
    switch (random() % (mayStayOpen ? 8 : 5)) {
      case 0:
        AddControl(end, tillEnd, kFin, false, ack);
        AddControl(end, ack, kFin, true, tillEnd + 1);
        break;
      case 1:
        AddControl(end, ack, kFin, true, tillEnd);
        AddControl(end, tillEnd, kFin, false, ack + 1);
        break;
      case 2: {  // the printer's FIN on its last status bytes
        Segment status{ack, "status", tillEnd, kFin | 0x18, true};
        frames.push_back({end, status});
        AddControl(end, tillEnd, kFin, false, ack + 7);
        break;
      }
      case 3:
        AddControl(end, ack, kRst, true, 0);
        return true;
      case 4:
        AddControl(end, tillEnd, kRst | 0x10, false, ack);
        return true;
      case 5:  // the printer's FIN missed
        AddControl(end, tillEnd, kFin, false, ack);
        return false;
      case 6:  // the till's FIN missed
        AddControl(end, ack, kFin, true, tillEnd + 1);
        return false;
      default:  // the till went away without a word
        return false;
    }
    // Retransmissions after both FINs, and a mirror's late copies: all of
    // frames already shown.
    const std::size_t shown = frames.size();
    for (int i = random() % 3; i > 0; --i) {
      const Shown again = frames[random() % shown];
      if (again.segment.payload.empty() || again.segment.fromPrinter) continue;
      frames.push_back(again);
      frames.back().order = end + 1;
      if (random() % 2 == 0) frames.back().segment.ack = ack + 1;
    }
    return true;
  }

  std::mt19937& random;
  const std::uint32_t isn;
  const std::uint32_t ack;  // the printer's SYN acknowledged
  std::size_t segments = 0;
};

// A new initial sequence number of the printer's: random, but not within a
// MiB of the one before. A passive observer takes a new connection whose
// numbers lie that close to the old one's for the old one; at random that
// happens to about one connection in 65,536.
std::uint32_t Unrelated(std::mt19937& random, std::uint32_t before) {
  for (;;) {
    const auto sequence = static_cast<std::uint32_t>(random());
    if (sequence - before + (1u << 20) > (2u << 20)) return sequence;
  }
}

// Hands a connection's frames, on the till's given port, to the tracker:
// each frame of the till's must hand on exactly the bytes that no frame
// before carried.
void Play(FlowTracker& flows, const RandomConnection& shown, std::uint16_t port,
          std::uint32_t now) {
  std::vector<char> carried(shown.stream.size(), false);  // by a frame before
  for (std::size_t k = 0; k < shown.frames.size(); ++k) {
    Segment segment = shown.frames[k].segment;
    segment.tillPort = port;
    std::string expected;
    const std::size_t offset = shown.frames[k].offset;
    for (std::size_t i = offset; !segment.fromPrinter && i < offset + segment.payload.size();
         ++i) {
      if (!carried[i]) expected.push_back(shown.stream[i]);
      carried[i] = true;
    }
    ASSERT_EQ(Deliver(flows, segment, now), expected) << "frame " << k;
  }
}

// Connections come one after another on the ports of a till: each new one
// with an initial sequence number of its own, the same as the connection
// before (and now and then the printer's the same as before too), or (its
// SYN missed) inside the stream of the connection before. A connection may
// end without a close the tracker sees (the next one on its ports then shows
// its handshake before its data, and the printer answers with a new initial
// sequence number); the last one on a till's ports closes. Meanwhile many
// times more connections come and go than the flow table holds, while the
// printer connections of other tills stay open and idle. Each frame hands on
// exactly the bytes of its connection that no frame before carried, so the
// NVR receives every byte that some frame carried once, in the order the
// frames came; after each round of trials the idle connections' keep-alive
// probes and retransmissions are copies. The trials follow one another from
// one seed: a failure names the seed and the trial, and running the test
// again repeats it.
TEST(FlowTracker, RandomConnectionsDeliverEachCarriedByteOnce) {
  const std::uint32_t kSeed = 12;
  const int kRounds = 20;
  const int kTrialsPerRound = 150;  // far less than the idle time of the live connections
  const int kConnectionsPerTrial = 3;
  std::mt19937 random(kSeed);
  FlowTracker flows(64);  // small, so that the trials' connections overflow it
  const int live = 8;
  auto liveSegment = [](int i, std::uint32_t sequence, const std::string& payload) {
    Segment segment{sequence, payload};
    segment.tillPort = static_cast<std::uint16_t>(10000 + i);
    return segment;
  };
  std::string liveStream = "live and idle\n";  // what each live connection sent so far
  for (int i = 0; i < live; ++i) {
    ASSERT_EQ(Deliver(flows, liveSegment(i, 1001, liveStream), 0), liveStream);
  }

  std::uint32_t now = 0;
  std::uint16_t port = 20000;
  int trial = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::uint32_t idleSince = now;
    for (const int roundEnd = trial + kTrialsPerRound; trial < roundEnd; ++trial) {
      SCOPED_TRACE(testing::Message() << "seed " << kSeed << ", trial " << trial
                                      << " (the test repeats every trial up to it)");
      ++port;
      // The initial sequence number wraps now and then.
      Plan plan{static_cast<std::uint32_t>(random()), 0, true, true, true};
      std::size_t before = 0;  // the length of the connection before
      bool openBefore = false;  // the connection before was not seen to close
      for (int connection = 0; connection < kConnectionsPerTrial; ++connection) {
        now += random() % 30;
        plan.withSyn = openBefore || random() % 4 != 0;
        const int reuse = connection == 0 ? 0 : static_cast<int>(random() % (openBefore ? 2 : 3));
        if (reuse == 0) plan.isn = static_cast<std::uint32_t>(random());
        if (reuse == 2) {
          plan.isn += static_cast<std::uint32_t>(random() % before);
          plan.withSyn = false;
        }
        const bool printerReuses =
            !openBefore && reuse == 1 && plan.withSyn && random() % 2 == 0;
        if (!printerReuses) plan.printerAck = Unrelated(random, plan.printerAck);
        plan.handshakeMayBeLate = !printerReuses && !openBefore;
        plan.mayStayOpen = connection + 1 < kConnectionsPerTrial;
        const RandomConnection shown(random, plan);
        before = shown.Length();
        openBefore = !shown.seenToClose;
        ASSERT_NO_FATAL_FAILURE(Play(flows, shown, port, now)) << "connection " << connection;
      }
    }

    ASSERT_LT(now - idleSince, FlowTracker::kDefaultIdleSeconds)
        << "the live connections were not idle too long";
    const std::string more = "bye\n";
    const auto last = static_cast<std::uint32_t>(liveStream.size());
    for (int i = 0; i < live; ++i) {
      SCOPED_TRACE(testing::Message() << "seed " << kSeed << ", after trial " << trial - 1
                                      << ", live connection " << i);
      EXPECT_EQ(Deliver(flows, liveSegment(i, 1000 + last, liveStream.substr(last - 1)), now), "");
      EXPECT_EQ(Deliver(flows, liveSegment(i, 1001, liveStream + more), now), more);
    }
    liveStream += more;
  }
}

// The bounds, on the tracker itself: pieces are offsets into the payload.
std::string Fresh(FlowTracker& flows, std::uint16_t port, std::uint32_t sequence,
                  const std::string& payload, std::uint32_t now = 0) {
  Segment segment{sequence, payload};
  segment.tillPort = port;
  return Deliver(flows, segment, now);
}

TEST(FlowTracker, AFullTableForgetsTheFlowSeenLeastRecently) {
  FlowTracker flows(2, 3600);
  Fresh(flows, 1, 0, "one");
  Fresh(flows, 2, 0, "two");
  Fresh(flows, 3, 0, "three");           // the table is full: flow 1 goes
  EXPECT_EQ(Fresh(flows, 2, 0, "two"), "");  // now seen more recently than flow 3
  EXPECT_EQ(Fresh(flows, 1, 0, "one"), "one") << "forgotten, starts afresh";
  EXPECT_EQ(Fresh(flows, 2, 0, "two"), "");
  EXPECT_EQ(Fresh(flows, 3, 0, "three"), "three");
}

TEST(FlowTracker, AnIdleFlowIsForgotten) {
  FlowTracker flows(16, 60);
  Fresh(flows, 1, 0, "abc", 1000);
  EXPECT_EQ(Fresh(flows, 1, 0, "abc", 1060), "");
  EXPECT_EQ(Fresh(flows, 1, 0, "abc", 1030), "") << "capture time stepping back is no pause";
  EXPECT_EQ(Fresh(flows, 1, 0, "abc", 1091), "abc");
}

// A connection closed by a FIN from each side is forgotten after minutes,
// an open one only after hours.
TEST(FlowTracker, AClosedConnectionIsForgottenSoon) {
  FlowTracker flows(16, 3 * 3600, 240);
  Fresh(flows, 1, 1001, "open", 1000);
  Fresh(flows, 2, 1001, "closed", 1000);
  const PacketKey till{kTill, kPrinter, 2, 9100};
  flows.Observe(till, TcpHeader{1007, kPrinterAck, kFin}, 0, 1000);
  flows.Observe(PacketKey{kPrinter, kTill, 9100, 2}, TcpHeader{kPrinterAck, 1008, kFin}, 0, 1000);
  EXPECT_EQ(Fresh(flows, 2, 1001, "closed", 1240), "") << "a late copy within the time";
  EXPECT_EQ(Fresh(flows, 2, 1001, "closed", 1481), "closed");
  EXPECT_EQ(Fresh(flows, 1, 1001, "open", 1481 + 3600), "");
}

// With more gaps than a flow remembers, the oldest is given up: its late
// fill counts as a copy, while the recent gaps still fill.
TEST(FlowTracker, RemembersABoundedNumberOfGaps) {
  FlowTracker flows;
  const int gaps = FlowTracker::kRangesPerFlow + 3;
  for (int i = 0; i <= gaps; ++i) Fresh(flows, 1, static_cast<std::uint32_t>(i * 10), "12345");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Fresh(flows, 1, static_cast<std::uint32_t>(i * 10 + 5), "67890"), "") << i;
  }
  for (int i = 4; i < gaps; ++i) {
    EXPECT_EQ(Fresh(flows, 1, static_cast<std::uint32_t>(i * 10 + 5), "67890"), "67890") << i;
  }
}

}  // namespace
