#include "capture/frame_router.h"
#include "capture/terminal_matcher.h"
#include "support/frame_builder.h"
#include "support/recording_sink.h"
#include "support/reference_matcher.h"
#include "support/terminal_tables.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace tillwire;

namespace {

TEST(ParseText, AcceptsOnlyThePrintedForm) {
  const std::pair<const char*, std::optional<std::uint32_t>> addresses[] = {
      {"192.168.10.2", 0xC0A80A02u}, {"0.0.0.0", 0u},           {"255.255.255.255", 0xFFFFFFFFu},
      {"192.168.010.2", std::nullopt}, {" 10.0.0.1", std::nullopt}, {"10.0.0.1 ", std::nullopt},
      {"10.0.0.256", std::nullopt},  {"10.0.0", std::nullopt},   {"10.0.0.1.5", std::nullopt},
      {"1..2.3", std::nullopt},      {"", std::nullopt},         {"+1.2.3.4", std::nullopt},
      {"1000.2.3.4", std::nullopt},
  };
  for (const auto& c : addresses) EXPECT_EQ(ParseIpv4Text(c.first), c.second) << c.first;
  const std::pair<const char*, std::optional<std::uint16_t>> ports[] = {
      {"9100", 9100},         {"0", 0},           {"65535", 65535},        {"09100", std::nullopt},
      {"65536", std::nullopt}, {"+1", std::nullopt}, {"100000", std::nullopt}, {"", std::nullopt},
      {"91 00", std::nullopt},
  };
  for (const auto& c : ports) EXPECT_EQ(ParsePortText(c.first), c.second) << c.first;
}

// A filter can match when it is empty (any value) or a printed form exactly;
// every other filter is named, with its kind, in attribute order.
TEST(NeverMatchingFilters, NamesEachFilterThatNoPrintedValueEquals) {
  using Kind = UnmatchableFilter::Kind;
  using Named = std::tuple<std::string, Kind, std::string>;
  struct Case {
    TerminalFilter filter;
    std::vector<Named> named;
  };
  const Case cases[] = {
      {{"172.30.5.21", "10.0.0.1", "49152", "6001"}, {}},
      {{"172.30.5.21", "", "", ""}, {}},
      {{"0.0.0.0", "255.255.255.255", "0", "65535"}, {}},
      {{"172.30.5.021", "", "", ""}, {{"SrcAddress", Kind::kAddress, "172.30.5.021"}}},
      {{"172.30.5.22 ", "", "", ""}, {{"SrcAddress", Kind::kAddress, "172.30.5.22 "}}},
      {{"", "10.0.0.256", "", ""}, {{"DstAddress", Kind::kAddress, "10.0.0.256"}}},
      {{"", "10.0.0", "", ""}, {{"DstAddress", Kind::kAddress, "10.0.0"}}},
      {{"10.0.0.1", "", "06001", ""}, {{"SrcPort", Kind::kPort, "06001"}}},
      {{"10.0.0.1", "", "", "65536"}, {{"DstPort", Kind::kPort, "65536"}}},
      {{"10.0.0.1", "", "+6001", " 6001"},
       {{"SrcPort", Kind::kPort, "+6001"}, {"DstPort", Kind::kPort, " 6001"}}},
      {{"host", "10.0.0.01", "x", "-1"},
       {{"SrcAddress", Kind::kAddress, "host"},
        {"DstAddress", Kind::kAddress, "10.0.0.01"},
        {"SrcPort", Kind::kPort, "x"},
        {"DstPort", Kind::kPort, "-1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(TerminalKey(c.filter));
    std::vector<Named> named;
    for (const UnmatchableFilter& filter : NeverMatchingFilters(c.filter)) {
      named.emplace_back(filter.attribute, filter.kind, filter.text);
    }
    EXPECT_EQ(named, c.named);
  }
}

class MatcherTest : public testing::Test {
 protected:
  // A table of terminals with these filters, in any order, and no listeners;
  // as in the configuration, a terminal needs an address.
  void Configure(const std::vector<TerminalFilter>& filters) {
    std::vector<TerminalRecord> records;
    for (const TerminalFilter& filter : filters) {
      if (filter.srcAddress.empty() && filter.dstAddress.empty()) continue;
      records.push_back(RecordOf(filter, std::to_string(records.size())));
    }
    matcher.reset();
    table = TableOf(records);
    matcher = std::make_unique<TerminalMatcher>(table);
  }
  std::string Match(const char* src, const char* dst, std::uint16_t srcPort,
                    std::uint16_t dstPort) {
    const std::optional<std::size_t> terminal = matcher->FindTerminal(
        PacketKey{*ParseIpv4Text(src), *ParseIpv4Text(dst), srcPort, dstPort});
    return terminal ? std::next(table.begin(), static_cast<long>(*terminal))->first : "none";
  }

  TerminalTable table;
  std::unique_ptr<TerminalMatcher> matcher;
};

TEST_F(MatcherTest, FirstAcceptingTerminalInKeyOrderWins) {
  Configure({{"", "192.168.10.40", "", "9100"},
             {"192.168.10.31", "", "", ""},
             {"192.168.10.32", "", "09100", ""},
             {"192.168.10.33", "192.168.010.40", "", ""}});
  EXPECT_EQ(Match("192.168.10.31", "192.168.10.40", 49152, 9100), "192.168.10.31:::");
  EXPECT_EQ(Match("192.168.10.99", "192.168.10.40", 49152, 9100), "::192.168.10.40:9100");
  EXPECT_EQ(Match("192.168.10.40", "192.168.10.99", 9100, 49152), "none") << "a reply";
  EXPECT_EQ(Match("192.168.10.99", "192.168.10.40", 49152, 9101), "none");
  EXPECT_EQ(Match("192.168.10.32", "192.168.10.1", 9100, 1), "none") << "SrcPort 09100";
  EXPECT_EQ(Match("192.168.10.33", "192.168.10.40", 1, 9100), "::192.168.10.40:9100")
      << "192.168.010.40 is not 192.168.10.40";
}

TEST_F(MatcherTest, AgreesWithTheTextWalkOnRandomTables) {
  const char* addresses[] = {"", "10.0.0.1", "10.0.0.2", "10.0.0.10", "10.0.0.010", " 10.0.0.1"};
  const char* ports[] = {"", "", "80", "9100", "09100", "0"};
  const std::uint32_t packetAddresses[] = {0x0A000001, 0x0A000002, 0x0A00000A, 0x0A000003};
  const std::uint16_t packetPorts[] = {80, 9100, 0, 443};
  std::mt19937 random(20261210);
  const auto pick = [&random](const auto& pool) {
    return pool[std::uniform_int_distribution<std::size_t>(0, std::size(pool) - 1)(random)];
  };
  for (int round = 0; round < 20; ++round) {
    std::vector<TerminalFilter> filters;
    for (int i = 0; i < 25; ++i) {
      filters.push_back({pick(addresses), pick(addresses), pick(ports), pick(ports)});
    }
    Configure(filters);
    for (int i = 0; i < 500; ++i) {
      const PacketKey packet{pick(packetAddresses), pick(packetAddresses), pick(packetPorts),
                             pick(packetPorts)};
      ASSERT_EQ(matcher->FindTerminal(packet), ReferenceFind(table, packet))
          << "round " << round << " packet " << i;
    }
  }
}

// A packet goes to one NVR at most: the winning terminal takes it even when
// its NVR is not connected. Every frame routed is counted by its kind.
TEST(FrameRouter, SendsToTheWinnerOnly) {
  const TerminalMatcher matcher(TableOf({RecordOf({"192.168.10.31", "", "", ""}, "0"),
                                         RecordOf({"", "192.168.10.40", "", ""}, "00")}));
  FlowTracker flows;
  RecordingSink sink;
  FrameRouter<RecordingSink> router(matcher, flows, sink);
  const auto route = [&router](const std::vector<unsigned char>& frame) {
    return router.Route(frame.data(), static_cast<std::uint32_t>(frame.size()), 0);
  };
  for (const unsigned short port : {80, 81}) {  // both to the first terminal, whose key is smaller
    FrameFields fields;
    fields.payload = "swallowed";
    fields.dstPort = port;
    EXPECT_TRUE(route(BuildFrame(fields)));
  }
  FrameFields fields;
  fields.srcAddress = 0xC0A80A63;  // 192.168.10.99
  fields.payload = "delivered";
  EXPECT_TRUE(route(BuildFrame(fields)));
  EXPECT_FALSE(route(ArpFrame()));
  const std::map<std::size_t, std::string> expected{{0, "swallowedswallowed"}, {1, "delivered"}};
  EXPECT_EQ(sink.received, expected);
  EXPECT_EQ(router.Counts().Of(FrameKind::kNotIpv4), 1u);
  EXPECT_EQ(router.Counts().All(), 1u) << "frames taken are not counted";
}

}  // namespace
