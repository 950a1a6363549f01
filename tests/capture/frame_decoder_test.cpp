#include "capture/link_layer.h"
#include "support/decoding.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tillwire;

namespace {

FrameFields Tcp(const std::string& payload) {
  FrameFields fields;
  fields.payload = payload;
  return fields;
}

template <typename Change>
FrameFields With(FrameFields fields, Change change) {
  change(fields);
  return fields;
}

// The frame's first size bytes, as a capture with a short snap length keeps them.
std::vector<unsigned char> Cut(std::vector<unsigned char> frame, std::size_t size) {
  frame.resize(size);
  return frame;
}

// IPv4 TCP and UDP are taken, with or without payload; every other frame is
// not, with its reason.
TEST(DecodeFrame, ReadsEthernetIpv4TcpAndUdpAndGivesTheReasonForTheRest) {
  const std::string hundred(100, 'p');
  struct Case {
    const char* name;
    std::vector<unsigned char> frame;
    FrameKind kind;
    std::string payload;
  };
  const Case cases[] = {
      {"TCP", BuildFrame(Tcp("abc")), FrameKind::kPayload, "abc"},
      {"tagged UDP",
       BuildFrame(With(Udp("tagged"), [](FrameFields& s) { s.vlanId = 42; })),
       FrameKind::kPayload, "tagged"},
      {"TCP with options (data offset 8), total length 152",
       BuildFrame(With(Tcp(hundred), [](FrameFields& s) { s.tcpHeaderWords = 8; })),
       FrameKind::kPayload, hundred},
      {"IP options (IHL 6)",
       BuildFrame(With(Udp("after options"), [](FrameFields& s) { s.ipHeaderWords = 6; })),
       FrameKind::kPayload, "after options"},
      {"UDP length shorter than the IP payload: the datagram's bytes only",
       BuildFrame(With(Udp("12345"), [](FrameFields& s) { s.udpLength = 8 + 3; })),
       FrameKind::kPayload, "123"},
      {"UDP length of its header alone", BuildFrame(With(Udp("12345"), [](FrameFields& s) {
         s.udpLength = 8;
       })),
       FrameKind::kNoPayload, ""},
      {"UDP length past the IP payload",
       BuildFrame(With(Udp("12345"), [](FrameFields& s) { s.udpLength = 100; })),
       FrameKind::kTruncated, ""},
      {"UDP length below its header",
       BuildFrame(With(Udp("12345"), [](FrameFields& s) { s.udpLength = 7; })),
       FrameKind::kTruncated, ""},
      {"short packet padded to 60 bytes: no padding forwarded",
       BuildFrame(With(Udp("hi"), [](FrameFields& s) { s.padTo = 60; })), FrameKind::kPayload,
       "hi"},
      {"bytes with zeros and line ends", BuildFrame(Tcp(std::string("a\0b\r\n\n", 6))),
       FrameKind::kPayload, std::string("a\0b\r\n\n", 6)},
      {"pure acknowledgement", BuildFrame(Tcp("")), FrameKind::kNoPayload, ""},
      {"total length shorter than the headers",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.totalLength = 30; })),
       FrameKind::kNoPayload, ""},
      {"total length past the captured bytes: cut to them",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.totalLength = 1000; })),
       FrameKind::kPayload, "abc"},
      {"ARP whose byte 23 is 6", ArpFrame(), FrameKind::kNotIpv4, ""},
      {"IPv6", BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.etherType = 0x86DD; })),
       FrameKind::kNotIpv4, ""},
      {"tagged ARP",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) {
         s.vlanId = 1;
         s.etherType = 0x0806;
       })),
       FrameKind::kNotIpv4, ""},
      {"IP version 6 in an IPv4 frame",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.ipVersion = 6; })),
       FrameKind::kNotIpv4, ""},
      {"IP header length below 5 words",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.ipHeaderWords = 4; })),
       FrameKind::kTruncated, ""},
      {"TCP data offset below 5 words",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.tcpHeaderWords = 4; })),
       FrameKind::kTruncated, ""},
      {"cut inside the Ethernet header", Cut(BuildFrame(Tcp("abc")), 13), FrameKind::kTruncated,
       ""},
      {"cut before the tag's inner type",
       Cut(BuildFrame(With(Udp("abc"), [](FrameFields& s) { s.vlanId = 5; })), 17),
       FrameKind::kTruncated, ""},
      {"cut inside the IPv4 header", Cut(BuildFrame(Udp("abc")), 14 + 19), FrameKind::kTruncated,
       ""},
      {"cut before the UDP ports", Cut(BuildFrame(Udp("abc")), 14 + 20 + 3),
       FrameKind::kTruncated, ""},
      {"cut before the TCP data offset", Cut(BuildFrame(Tcp("abc")), 14 + 20 + 12),
       FrameKind::kTruncated, ""},
      {"cut after the TCP data offset, before the payload",
       Cut(BuildFrame(Tcp("abc")), 14 + 20 + 13), FrameKind::kNoPayload, ""},
      {"ICMP", BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.protocol = 1; })),
       FrameKind::kNotTcpUdp, ""},
      {"ICMP fragment after the first",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) {
         s.protocol = 1;
         s.fragment = 185;
       })),
       FrameKind::kNotTcpUdp, ""},
      {"first fragment (more fragments follow): its part of the payload",
       BuildFrame(With(Udp("first part"), [](FrameFields& s) { s.fragment = 0x2000; })),
       FrameKind::kPayload, "first part"},
      {"first fragment whose UDP length counts the later fragments too",
       BuildFrame(With(Udp("first part"), [](FrameFields& s) {
         s.fragment = 0x2000;
         s.udpLength = 8 + 3000;
       })),
       FrameKind::kPayload, "first part"},
      {"first fragment with a UDP length below its header",
       BuildFrame(With(Udp("first part"), [](FrameFields& s) {
         s.fragment = 0x2000;
         s.udpLength = 7;
       })),
       FrameKind::kTruncated, ""},
      {"later fragment: no transport header in it",
       BuildFrame(With(Tcp("abc"), [](FrameFields& s) { s.fragment = 0x2000 | 185; })),
       FrameKind::kFragment, ""},
      {"last fragment",
       BuildFrame(With(Udp("abc"), [](FrameFields& s) { s.fragment = 1; })),
       FrameKind::kFragment, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedFrame decoded =
        DecodeFrame(c.frame.data(), static_cast<std::uint32_t>(c.frame.size()));
    EXPECT_EQ(decoded.kind, c.kind);
    EXPECT_EQ(PayloadOf(decoded), c.payload);
  }
}

TEST(DecodeFrame, KeyHoldsAddressesFirstByteFirstAndPortsInHostOrder) {
  const FrameFields fields = With(Udp("x"), [](FrameFields& s) {
    s.srcAddress = 0xC0A80A1F;
    s.dstAddress = 0x0A000009;
    s.srcPort = 0xC000;
    s.dstPort = 9100;
  });
  const std::vector<unsigned char> frame = BuildFrame(fields);
  const DecodedFrame decoded = DecodeFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
  EXPECT_EQ(decoded.key.srcAddress, 0xC0A80A1Fu);
  EXPECT_EQ(decoded.key.dstAddress, 0x0A000009u);
  EXPECT_EQ(decoded.key.srcPort, 49152);
  EXPECT_EQ(decoded.key.dstPort, 9100);
}

// Every cut of valid frames, each copied to a buffer of exactly its captured
// size, so that the sanitizers see any read past the end.
TEST(DecodeFrame, NeverReadsPastTheCapturedBytes) {
  const FrameFields frameFields[] = {
      With(Tcp(std::string(40, 'T')), [](FrameFields& s) {
        s.vlanId = 7;
        s.tcpHeaderWords = 8;
        s.ipHeaderWords = 6;
      }),
      Udp(std::string(40, 'U')),
  };
  for (const FrameFields& fields : frameFields) {
    const std::vector<unsigned char> whole = BuildFrame(fields);
    const std::size_t payloadOffset = PayloadOffset(fields);
    const std::size_t transport = payloadOffset - (fields.protocol == 6 ? fields.tcpHeaderWords * 4 : 8);
    const std::size_t headersRead = transport + (fields.protocol == 6 ? 13 : 4);
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
      SCOPED_TRACE(cut);
      std::unique_ptr<unsigned char[]> captured(new unsigned char[cut ? cut : 1]);
      std::copy(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut), captured.get());
      const DecodedFrame decoded = DecodeFrame(captured.get(), static_cast<std::uint32_t>(cut));
      if (cut < headersRead) {
        EXPECT_EQ(decoded.kind, FrameKind::kTruncated);
      } else if (cut <= payloadOffset) {
        EXPECT_EQ(decoded.kind, FrameKind::kNoPayload);
      } else {
        ASSERT_EQ(decoded.kind, FrameKind::kPayload);
        EXPECT_EQ(decoded.payload, captured.get() + payloadOffset);
        EXPECT_EQ(static_cast<std::size_t>(decoded.payloadLength), cut - payloadOffset);
      }
    }
  }
}

}  // namespace
